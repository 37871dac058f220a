// Text conversions of the HTML text view: plain text to a small HTML document, and HTML
// to the plain text shown when no browser control is available.
#pragma once

// True when an end tag appears: "</" followed by ">" at offsets 2 to 19 from the "<".
bool looks_like_html(const char* text);
// In place; the buffer holds at least 6 x length + 256 bytes.
void plain_to_html(char* buffer);
// A new heap text (mem_free) of at most length + 1 bytes; null without memory.
char* html_to_plain(const char* text);
