#include "support/report_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <fstream>
#include <regex>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

const std::string kSchema = std::string(KESTREL_SOURCE_DIR) + "/../shared/dfxml/dfxml.xsd";

std::string XmlUnescape(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : kEntities) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::strlen(entity), plain);
    }
  }
  return text;
}

std::string ElementText(const std::string& line, const std::string& name) {
  const std::regex pattern("<" + name + ">([^<]*)</" + name + ">");
  std::smatch match;
  return std::regex_search(line, match, pattern) ? XmlUnescape(match[1]) : std::string();
}

uint64_t Attribute(const std::string& run, const std::string& name) {
  const std::regex pattern(" " + name + "='([0-9]+)'");
  std::smatch match;
  return std::regex_search(run, match, pattern) ? std::stoull(match[1]) : 0;
}

}  // namespace

std::vector<ReadFileObject> ReadFileObjects(const std::string& report_path) {
  std::vector<ReadFileObject> objects;
  std::ifstream in(report_path);
  const std::regex state_pattern("<fileobject kestrel:state='([a-z-]+)'>");
  const std::regex run_pattern("<byte_run [^>]*/>");
  const std::regex digest_pattern("<hashdigest type='([a-z0-9]+)'>([0-9a-f]+)</hashdigest>");
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, state_pattern)) continue;
    ReadFileObject object;
    object.state = match[1];
    object.name = ElementText(line, "filename");
    object.original_path = ElementText(line, "kestrel:original_path");
    object.size = std::stoull(ElementText(line, "filesize"));
    object.mtime = ElementText(line, "mtime");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), run_pattern);
         it != std::sregex_iterator(); ++it) {
      const std::string run = it->str();
      object.runs.push_back({Attribute(run, "file_offset"), Attribute(run, "img_offset"),
                             Attribute(run, "len"), run.find("fill='0'") != std::string::npos});
    }
    for (auto it = std::sregex_iterator(line.begin(), line.end(), digest_pattern);
         it != std::sregex_iterator(); ++it) {
      object.digests[(*it)[1]] = (*it)[2];
    }
    objects.push_back(object);
  }
  return objects;
}

bool CanValidate() {
  return HaveTool("xmllint") && std::ifstream(kSchema).good();
}

bool SchemaValid(const std::string& report_path, std::string* output) {
  return RunCommand("xmllint --noout --schema '" + kSchema + "' '" + report_path + "' 2>&1",
                    output) == 0;
}

std::string DigestOf(const std::string& algorithm, const std::vector<uint8_t>& bytes) {
  const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
  if (md == nullptr) return "no such digest";
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), value, &length, md, nullptr);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[value[i] >> 4];
    hex += kDigits[value[i] & 0x0F];
  }
  return hex;
}

size_t ExpectReportMatchesFiles(const std::string& report_path, const std::string& run_folder,
                                const std::string& source) {
  const std::vector<uint8_t> image = ReadFileBytes(source);
  size_t checked = 0;
  for (const ReadFileObject& object : ReadFileObjects(report_path)) {
    if (object.name.empty()) continue;
    SCOPED_TRACE(object.name);
    const std::vector<uint8_t> bytes = ReadFileBytes(run_folder + object.name);
    EXPECT_EQ(bytes.size(), object.size);
    EXPECT_FALSE(object.digests.empty());
    for (const auto& [algorithm, hex] : object.digests) {
      EXPECT_EQ(hex, DigestOf(algorithm, bytes)) << algorithm;
    }
    if (!object.runs.empty()) {
      std::vector<uint8_t> from_runs;
      for (const ReadRun& run : object.runs) {
        EXPECT_EQ(run.file_offset, from_runs.size());
        if (run.sparse) {
          from_runs.resize(from_runs.size() + run.length, 0);
        } else if (run.img_offset + run.length <= image.size()) {
          from_runs.insert(from_runs.end(), image.begin() + static_cast<long>(run.img_offset),
                           image.begin() + static_cast<long>(run.img_offset + run.length));
        } else {
          ADD_FAILURE() << "a run past the source's end";
        }
      }
      EXPECT_TRUE(from_runs == bytes) << "the source at the byte runs differs from the file";
    }
    ++checked;
  }
  return checked;
}

}  // namespace kestrel::testing
