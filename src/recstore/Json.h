#pragma once
// The JSON value type of the whole program and the small helpers every room uses on it.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

using TJson = nlohmann::ordered_json;

// Order-insensitive deep comparison: objects are equal when they hold the same members with
// equal values in any order; numbers compare by value (3 equals 3.0).
bool JsonEqual(const TJson& a, const TJson& b);

// Member access by dotted path ("Refs._ID"); nullptr when any step is missing.
const TJson* JsonPath(const TJson& root, const std::string& path);

// Readers with the "missing reads as empty" rule of records.
std::string JsonStr(const TJson& obj, const std::string& key);
int64_t JsonInt(const TJson& obj, const std::string& key);
double JsonDouble(const TJson& obj, const std::string& key);
bool JsonBool(const TJson& obj, const std::string& key);

// Name of a JSON value kind ("object", "array", "string", ...), for messages.
std::string JsonKindName(const TJson& v);
