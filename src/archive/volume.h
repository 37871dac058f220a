// Volumes of a multi-volume set.
#pragma once

class ArchiveReader;
class DataPipe;

// Changes name (1024 bytes) in place to the name of the following volume.
void next_volume_name(char* name, bool old_style);
// Switches the reader to the next volume; on failure it stays on the previous one.
bool next_volume(ArchiveReader& reader, DataPipe* pipe, char command);
