#include "files/json_reader.h"

#include <unordered_set>
#include <utility>
#include <vector>

namespace segwork {
namespace {

using Json = nlohmann::ordered_json;

// The library's message without its bracketed id, which says nothing to the reader.
std::string Trimmed(const std::string& what) {
  const size_t close = what.find("] ");
  return what.rfind("[json", 0) == 0 && close != what.npos ? what.substr(close + 2) : what;
}

// Builds the value as nlohmann's own DOM parser does, one open container a frame. Objects are
// appended to without the ordered map's search for an equal key (the set has already refused
// one), so a long object costs what its length does.
class Builder {
 public:
  explicit Builder(const JsonLimits& limits) : limits_(limits) {}

  Json root;

  bool null() { return Value(nullptr); }
  bool boolean(bool v) { return Value(v); }
  bool number_integer(Json::number_integer_t v) { return Value(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return Value(v); }
  bool number_float(Json::number_float_t v, const Json::string_t&) { return Value(v); }
  bool string(Json::string_t& v) { return Value(std::move(v)); }
  bool binary(Json::binary_t& v) { return Value(Json::binary(std::move(v))); }
  bool start_object(std::size_t) { return Open(Json::object(), true); }
  bool start_array(std::size_t) { return Open(Json::array(), false); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(Json::string_t& k) {
    Count();
    Frame& f = frames_.back();
    f.key = k;
    if (!f.keys.insert(k).second) {
      throw JsonRefusal(false, Path(),
                        "given twice: a file whose two values may differ is ambiguous");
    }
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    throw JsonRefusal(true, "", Trimmed(e.what()));
  }

 private:
  struct Frame {
    Json* value;
    bool object;
    std::string key;   // the key whose value is being read
    size_t count = 0;  // elements of a list so far
    std::unordered_set<std::string> keys;
  };

  void Count() {
    if (++values_ > limits_.values) {
      throw JsonRefusal(false, "",
                        "more than " + std::to_string(limits_.values) +
                            " values and keys: more than the format ever needs");
    }
  }

  // Where the value being read sits, as the readers name keys: a.b[2].c.
  std::string Path() const {
    std::string path;
    for (const Frame& f : frames_) {
      if (f.object) {
        path += (path.empty() ? "" : ".") + f.key;
      } else {
        path += "[" + std::to_string(f.count - 1) + "]";
      }
    }
    return path;
  }

  Json* Place(Json&& value) {
    Count();
    if (frames_.empty()) {
      root = std::move(value);
      return &root;
    }
    Frame& f = frames_.back();
    if (f.object) {
      auto& members = static_cast<Json::object_t::Container&>(*f.value->get_ptr<Json::object_t*>());
      members.emplace_back(f.key, std::move(value));
      return &members.back().second;
    }
    auto& elements = *f.value->get_ptr<Json::array_t*>();
    elements.push_back(std::move(value));
    ++f.count;
    return &elements.back();
  }

  bool Value(Json&& value) {
    Place(std::move(value));
    return true;
  }

  bool Open(Json&& container, bool object) {
    if (int(frames_.size()) >= limits_.depth) {
      Place(Json());  // so that the path names the list or object that goes too deep
      throw JsonRefusal(false, Path(),
                        "lists and objects nested more than " + std::to_string(limits_.depth) +
                            " deep: more than the format ever needs");
    }
    Json* value = Place(std::move(container));
    frames_.push_back(Frame{value, object, {}, 0, {}});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  const JsonLimits& limits_;
  size_t values_ = 0;
  std::vector<Frame> frames_;
};

}  // namespace

nlohmann::ordered_json ParseJsonText(std::string_view text, const JsonLimits& limits) {
  Builder builder(limits);
  try {
    Json::sax_parse(text.data(), text.data() + text.size(), &builder);
  } catch (const Json::exception& e) {
    // The parser's own limits (a number out of range) come as its exceptions.
    throw JsonRefusal(true, "", Trimmed(e.what()));
  }
  return std::move(builder.root);
}

}  // namespace segwork
