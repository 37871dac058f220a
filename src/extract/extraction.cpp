// Placeholder until the extraction driver lands.
#include "extract/extraction.h"

ExtractionRun::ExtractionRun() = default;
ExtractionRun::~ExtractionRun() = default;

void start_extraction(const char*) {}
