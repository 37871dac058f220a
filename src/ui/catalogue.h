// Message catalogue: numbered messages from the string table, translated by the
// optional message block stored in the module file before the archive.
#pragma once

#include "platform/types.h"

struct MessageCatalogue {
  char* block = nullptr;
  int message_block_length = 0;
  bool right_to_left = false;
};

extern MessageCatalogue message_catalogue;

void load_message_block(MessageCatalogue& catalogue, const char* file_name);
// kind 's' (numbered message) or '$' (dialog text). output may be the text's own buffer.
void translate(MessageCatalogue& catalogue, const char* text, char* output, int output_size,
               const char* dialog_name, char kind);
// The translated text of a message; one of eight rotating 256-byte buffers. Empty when
// the id has no text.
const char* message_text(int id);

// The compiled string table: the resource text (Chinese) and the English text of an id,
// or null when the id has no entry.
const char* string_table_text(int id);
const char* string_table_english(int id);
