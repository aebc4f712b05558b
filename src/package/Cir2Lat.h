#pragma once
// Transliteration of Cyrillic names to Latin for every file name written into server packages
// and portals.
#include <string>

// Each character of the table (Cyrillic letters, blank, em dash, colon) is replaced by its
// Latin text; every other character is copied unchanged. Text is UTF-8.
std::string Cir2Lat(const std::string& text);
