#include "recstore/Json.h"

#include <cmath>

namespace {

bool IsNumber(const TJson& v) { return v.is_number(); }

bool NumbersEqual(const TJson& a, const TJson& b) {
  if (a.is_number_float() || b.is_number_float()) return a.get<double>() == b.get<double>();
  if (a.is_number_unsigned() && b.is_number_unsigned())
    return a.get<uint64_t>() == b.get<uint64_t>();
  if (a.is_number_unsigned() || b.is_number_unsigned()) {
    const TJson& u = a.is_number_unsigned() ? a : b;
    const TJson& s = a.is_number_unsigned() ? b : a;
    int64_t sv = s.get<int64_t>();
    return sv >= 0 && static_cast<uint64_t>(sv) == u.get<uint64_t>();
  }
  return a.get<int64_t>() == b.get<int64_t>();
}

}  // namespace

bool JsonEqual(const TJson& a, const TJson& b) {
  if (IsNumber(a) && IsNumber(b)) return NumbersEqual(a, b);
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case TJson::value_t::object: {
      if (a.size() != b.size()) return false;
      for (auto it = a.begin(); it != a.end(); ++it) {
        auto other = b.find(it.key());
        if (other == b.end() || !JsonEqual(it.value(), *other)) return false;
      }
      return true;
    }
    case TJson::value_t::array: {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i)
        if (!JsonEqual(a[i], b[i])) return false;
      return true;
    }
    default:
      return a == b;
  }
}

const TJson* JsonPath(const TJson& root, const std::string& path) {
  const TJson* cur = &root;
  size_t start = 0;
  while (true) {
    size_t dot = path.find('.', start);
    std::string key = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!cur->is_object()) return nullptr;
    auto it = cur->find(key);
    if (it == cur->end()) return nullptr;
    cur = &*it;
    if (dot == std::string::npos) return cur;
    start = dot + 1;
  }
}

std::string JsonStr(const TJson& obj, const std::string& key) {
  const TJson* v = JsonPath(obj, key);
  if (!v) return {};
  if (v->is_string()) return v->get<std::string>();
  if (v->is_null()) return {};
  if (v->is_number_integer()) return std::to_string(v->get<int64_t>());
  if (v->is_boolean()) return v->get<bool>() ? "true" : "false";
  return v->dump();
}

int64_t JsonInt(const TJson& obj, const std::string& key) {
  const TJson* v = JsonPath(obj, key);
  if (!v) return 0;
  if (v->is_number_integer()) return v->get<int64_t>();
  if (v->is_number_float()) return static_cast<int64_t>(std::llround(v->get<double>()));
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  return 0;
}

double JsonDouble(const TJson& obj, const std::string& key) {
  const TJson* v = JsonPath(obj, key);
  if (!v || !v->is_number()) return 0.0;
  return v->get<double>();
}

bool JsonBool(const TJson& obj, const std::string& key) {
  const TJson* v = JsonPath(obj, key);
  if (!v) return false;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number_integer()) return v->get<int64_t>() != 0;
  return false;
}

std::string JsonKindName(const TJson& v) {
  switch (v.type()) {
    case TJson::value_t::null: return "null";
    case TJson::value_t::object: return "object";
    case TJson::value_t::array: return "array";
    case TJson::value_t::string: return "string";
    case TJson::value_t::boolean: return "boolean";
    case TJson::value_t::number_integer:
    case TJson::value_t::number_unsigned: return "integer";
    case TJson::value_t::number_float: return "double";
    default: return "unknown";
  }
}
