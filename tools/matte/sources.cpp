#include "tools/matte/sources.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>
#include <unordered_set>

#include "tools/common/errors.h"
#include "tools/common/json_text.h"
#include "tools/common/quoting.h"
#include "tools/common/scene_file.h"

namespace matte {

namespace {

namespace fs = std::filesystem;
using common::Failure;
using common::quote;
using nlohmann::json;

// One object of a record: its name, seed and grayscale, which decide its
// colour in one renderer.
using RecordKey = std::tuple<std::string, std::int64_t, bool>;

struct Reading {
  Sources sources;
  std::map<RecordKey, std::pair<std::array<float, 3>, std::string>> recorded;
  std::vector<const RecordKey*> order;  // as first seen
  int manifests = 0;
  std::string manifest_text;
};

std::array<float, 3> colour_of(const json& c) {
  // The numbers are 32-bit floats, written as their shortest text: read
  // them as such.
  return {static_cast<float>(c.at(0).get<double>()),
          static_cast<float>(c.at(1).get<double>()),
          static_cast<float>(c.at(2).get<double>())};
}

std::string colour_text(const std::array<float, 3>& c) {
  common::JsonText text;
  text.raw("[").number(c[0]).raw(", ").number(c[1]).raw(", ").number(c[2]);
  return text.raw("]").take();
}

bool is_record(const std::string& text) {
  const std::string first = text.substr(0, text.find('\n'));
  return first.find("\"ravelTint_record\"") != std::string::npos;
}

// A key given twice in one object of a manifest: the parser would keep the
// last, where the writer meant one.
struct RepeatedKey {
  std::string key;
};

// Reads a JSON text for its objects' keys alone, throwing RepeatedKey at
// the first key an object gives twice. A pass of its own: the parser's
// callback form costs the square of an array's length.
class KeyCheck : public nlohmann::json_sax<json> {
 public:
  bool start_object(std::size_t) override {
    keys_.emplace_back();
    return true;
  }
  bool end_object() override {
    keys_.pop_back();
    return true;
  }
  bool key(string_t& key) override {
    if (!keys_.back().insert(key).second) throw RepeatedKey{key};
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception&) override {
    return false;  // the parse proper says what is wrong
  }

 private:
  std::vector<std::unordered_set<std::string>> keys_;
};

// The manifest's JSON, refusing a key that one object gives twice.
json parse_strictly(const std::string& text) {
  json parsed = json::parse(text);
  KeyCheck check;
  json::sax_parse(text, &check);
  return parsed;
}

void add_manifest(const std::string& text, const std::string& origin,
                  Reading& r) {
  try {
    const json manifest = parse_strictly(text);
    if (!manifest.is_object() || manifest.value("manifest_version", 0) != 2)
      throw Failure(origin + ": not a manifest of version 2");
    if (!manifest.contains("objects") || !manifest["objects"].is_array())
      throw Failure(origin +
                    ": not a manifest (its \"objects\" is not a "
                    "list of objects)");
    // Samples beyond what a float's fraction can count help nothing.
    const int samples =
        manifest.value("image", json::object()).value("samples_per_pixel", 0);
    if (samples > 0 && samples <= 65536) r.sources.samples = samples;
    for (const auto& object : manifest.at("objects")) {
      const std::array<float, 3> c = colour_of(object.at("colour"));
      r.sources.objects.push_back(
          {object.at("name").get<std::string>(), {c[0], c[1], c[2]}});
    }
  } catch (const json::exception& e) {
    throw Failure(origin + ": not a manifest (" +
                  common::printable_line(e.what()) + ")");
  } catch (const RepeatedKey& repeated) {
    throw Failure(origin + ": not a manifest (the key " +
                  common::quote_short(repeated.key) +
                  " is given twice in one object)");
  }
  ++r.manifests;
  r.manifest_text = common::compact_json(text);
}

// A record: JSON lines, each process's header line (which names the
// format's version) before its objects. Several processes may append to
// one file; one killed in the middle of a line leaves it unterminated at
// the end, which is skipped.
void add_record(const std::string& text, const std::string& origin,
                Reading& r) {
  bool header = false;
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const bool last = end == std::string::npos;
    const std::string line = text.substr(at, last ? end : end - at);
    at = last ? text.size() : end + 1;
    ++number;
    if (line.empty()) continue;
    const std::string place = origin + ", line " + std::to_string(number);
    json object;
    try {
      object = json::parse(line);
      if (object.contains("ravelTint_record")) {
        const int version = object.at("ravelTint_record").get<int>();
        if (version != kRecordVersion)
          throw Failure(origin + ": a colour record of version " +
                        std::to_string(version) +
                        ", which this tool does not read (it reads version " +
                        std::to_string(kRecordVersion) + ")");
        header = true;
        continue;
      }
      if (!header)
        throw Failure(origin +
                      ": not a colour record (its first line names "
                      "no record format)");
      RecordKey key{object.at("name").get<std::string>(),
                    object.at("seed").get<std::int64_t>(),
                    object.at("grayscale").get<bool>()};
      const std::array<float, 3> colour = colour_of(object.at("colour"));
      const auto [it, fresh] = r.recorded.try_emplace(key, colour, place);
      if (fresh) {
        r.order.push_back(&it->first);
      } else if (it->second.first != colour) {
        throw Failure(
            quote(std::get<0>(key)) + " (seed " +
            std::to_string(std::get<1>(key)) +
            (std::get<2>(key) ? ", grey" : "") + ") has two colours, " +
            colour_text(it->second.first) + " (" + it->second.second +
            ") and " + colour_text(colour) + " (" + place +
            "): records from two different renderers' generators were mixed");
      }
    } catch (const json::exception& e) {
      if (last) break;  // the unfinished line of a killed process
      throw Failure(place + ": not a line of a colour record (" +
                    common::printable_line(e.what()) + ")");
    }
  }
  if (!header)
    throw Failure(origin +
                  ": not a colour record (its first line names no "
                  "record format)");
}

void add_text(const std::string& text, const std::string& origin, Reading& r) {
  if (is_record(text))
    add_record(text, origin, r);
  else
    add_manifest(text, origin, r);
}

void add_path(const std::string& path, Reading& r) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    add_text(common::read_scene_file(path), quote(path), r);
    return;
  }
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(path, error))
    if (item.is_regular_file(error) &&
        item.path().filename().string().rfind('.', 0) != 0)
      files.push_back(item.path());
  if (error)
    throw Failure(quote(path) + ": cannot read the folder: " + error.message());
  std::sort(files.begin(), files.end());
  if (files.empty())
    throw Failure(quote(path) + ": a folder of no colour records");
  for (const fs::path& file : files) {
    const std::string name = file.string();
    const std::string text = common::read_scene_file(name);
    if (!is_record(text))
      throw Failure(quote(name) +
                    ": not a colour record; a folder given to "
                    "--manifest holds records alone");
    add_record(text, quote(name), r);
  }
}

// The objects' manifest for an image's header: the one manifest read, as
// it is; otherwise one of every object's name and colour, which this tool
// reads back.
std::string manifest_of(const Reading& r) {
  if (r.manifests == 1 && r.recorded.empty()) return r.manifest_text;
  common::JsonText text;
  text.raw("{\"manifest_version\":2,\"objects\":[");
  bool first = true;
  for (const Named& n : r.sources.objects) {
    text.raw(first ? "" : ",").raw("{\"name\":").string(n.name);
    text.raw(",\"colour\":[")
        .number(static_cast<float>(n.colour[0]))
        .raw(",")
        .number(static_cast<float>(n.colour[1]))
        .raw(",")
        .number(static_cast<float>(n.colour[2]))
        .raw("]}");
    first = false;
  }
  return text.raw("]}").take();
}

Sources finish(Reading& r) {
  std::vector<std::string> names;
  for (const RecordKey* key : r.order) {
    const std::array<float, 3>& c = r.recorded.at(*key).first;
    r.sources.objects.push_back({std::get<0>(*key), {c[0], c[1], c[2]}});
    names.push_back(std::get<0>(*key));
  }
  std::sort(names.begin(), names.end());
  r.sources.record_names = static_cast<std::size_t>(
      std::unique(names.begin(), names.end()) - names.begin());
  r.sources.manifest = manifest_of(r);
  return std::move(r.sources);
}

}  // namespace

Sources read_sources(const std::vector<std::string>& paths) {
  Reading r;
  for (const std::string& path : paths) add_path(path, r);
  return finish(r);
}

Sources sources_of_text(const std::string& text, const std::string& origin) {
  Reading r;
  add_text(text, origin, r);
  return finish(r);
}

}  // namespace matte
