#include "report/run_report.h"

#include <openssl/crypto.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "report/report_text.h"

namespace kestrel {
namespace {

// Names a run folder's reports take before giving up.
constexpr int kNameAttempts = 1000;

constexpr const char* kOpening =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<dfxml xmlns='http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML'"
    " xmlns:kestrel='urn:kestrel:report' version='2.0.0-beta.0'>\n"
    "  <metadata/>\n";

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Element(const char* name, const std::string& value) {
  return std::string("<") + name + ">" + XmlText(value) + "</" + name + ">";
}

std::string ReportName(int attempt) {
  return attempt == 0 ? "report.dfxml" : "report-" + std::to_string(attempt + 1) + ".dfxml";
}

std::string Compiler() {
#if defined(__clang__)
  return "clang " __clang_version__;
#elif defined(__GNUC__)
  return "GCC " __VERSION__;
#else
  return "unknown";
#endif
}

std::string CreatorXml(const ReportChoice& choice, int64_t start_seconds) {
  struct utsname host {};
  ::uname(&host);
  const std::string command_line =
      choice.command_line.empty() ? OwnCommandLine() : choice.command_line;
  return "  <creator>\n    " + Element("program", "Kestrel") + "\n    " +
         Element("version", KESTREL_VERSION) + "\n    <build_environment>" +
         Element("compiler", Compiler()) + "<library name='OpenSSL' version='" +
         XmlText(OpenSSL_version(OPENSSL_VERSION)) + "'/></build_environment>\n" +
         "    <execution_environment>" + Element("os_sysname", host.sysname) +
         Element("os_release", host.release) + Element("os_version", host.version) +
         Element("host", host.nodename) + Element("arch", host.machine) +
         Element("command_line", command_line) + Element("uid", std::to_string(::getuid())) +
         Element("start_time", IsoTime(start_seconds).value_or("1970-01-01T00:00:00Z")) +
         "</execution_environment>\n  </creator>\n";
}

std::string SourceXml(const ReportSource& source) {
  return "  <source>" + Element("image_filename", source.path) + "</source>\n" +
         "  <diskimageobject>" + Element("kestrel:container", source.container) +
         "<byte_runs><byte_run img_offset='0' len='" + std::to_string(source.size) +
         "'/></byte_runs>" + Element("sector_size", std::to_string(source.sector_size)) +
         "</diskimageobject>\n";
}

std::string RunXml(const ReportRun& run) {
  if (run.sparse) {
    return "<byte_run file_offset='" + std::to_string(run.file_offset) + "' fill='0' len='" +
           std::to_string(run.length) + "' type='sparse'/>";
  }
  return "<byte_run file_offset='" + std::to_string(run.file_offset) + "' img_offset='" +
         std::to_string(run.source_offset) + "' len='" + std::to_string(run.length) + "'/>";
}

std::string TimeXml(const char* name, const std::optional<int64_t>& seconds) {
  if (!seconds) return {};
  const std::optional<std::string> text = IsoTime(*seconds);
  return text ? Element(name, *text) : std::string();
}

std::string FileXml(const ReportedFile& file) {
  std::string xml =
      "  <fileobject kestrel:state='" + std::string(ReportedStateName(file.state)) + "'>";
  if (!file.name.empty()) xml += Element("filename", file.name);
  if (!file.reason.empty()) xml += Element("error", file.reason);
  xml += Element("filesize", std::to_string(file.size));
  if (file.allocated) xml += Element("alloc", *file.allocated ? "1" : "0");
  xml += TimeXml("mtime", file.modified) + TimeXml("atime", file.accessed) +
         TimeXml("crtime", file.created);
  if (!file.runs.empty()) {
    xml += "<byte_runs>";
    for (const ReportRun& run : file.runs) xml += RunXml(run);
    xml += "</byte_runs>";
  }
  for (const FileDigest& digest : file.digests) {
    xml += "<hashdigest type='" + std::string(DigestName(digest.kind)) + "'>" + digest.hex +
           "</hashdigest>";
  }
  if (!file.original_path.empty()) xml += Element("kestrel:original_path", file.original_path);
  return xml + "</fileobject>\n";
}

std::string Seconds(const timeval& time) {
  return std::to_string(static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6);
}

std::string ResumptionsXml(const std::vector<RunResumption>& resumptions) {
  std::string xml;
  for (const RunResumption& resumption : resumptions) {
    xml += "  <kestrel:resumed sector='" + std::to_string(resumption.sector) + "'>" +
           IsoTime(resumption.unix_seconds).value_or("1970-01-01T00:00:00Z") +
           "</kestrel:resumed>\n";
  }
  return xml;
}

// The run's resources and end; those of its last part only when it went on after interruptions.
std::string ClosingXml(int64_t start_ns, int64_t end_ns,
                       const std::vector<RunResumption>& resumptions) {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const double clock = static_cast<double>(end_ns - start_ns) / 1e9;
  return "  <rusage>" + Element("utime", Seconds(usage.ru_utime)) +
         Element("stime", Seconds(usage.ru_stime)) +
         Element("maxrss", std::to_string(usage.ru_maxrss)) +
         Element("minflt", std::to_string(usage.ru_minflt)) +
         Element("majflt", std::to_string(usage.ru_majflt)) +
         Element("nswap", std::to_string(usage.ru_nswap)) +
         Element("inblock", std::to_string(usage.ru_inblock)) +
         Element("oublock", std::to_string(usage.ru_oublock)) +
         Element("clocktime", std::to_string(clock)) + "</rusage>\n" + ResumptionsXml(resumptions) +
         "  " +
         Element("kestrel:end_time",
                 IsoTime(end_ns / 1000000000).value_or("1970-01-01T00:00:00Z")) +
         "\n</dfxml>\n";
}

nlohmann::json FileJson(const ReportedFile& file) {
  nlohmann::json json = {{"state", ReportedStateName(file.state)}, {"size", file.size}};
  if (!file.name.empty()) json["name"] = file.name;
  if (!file.original_path.empty()) json["original_path"] = file.original_path;
  if (!file.reason.empty()) json["error"] = file.reason;
  if (file.allocated) json["alloc"] = *file.allocated;
  const std::pair<const char*, const std::optional<int64_t>*> times[] = {
      {"mtime", &file.modified}, {"atime", &file.accessed}, {"crtime", &file.created}};
  for (const auto& [name, seconds] : times) {
    if (*seconds) {
      if (std::optional<std::string> text = IsoTime(**seconds)) json[name] = *text;
    }
  }
  nlohmann::json runs = nlohmann::json::array();
  for (const ReportRun& run : file.runs) {
    nlohmann::json entry = {{"file_offset", run.file_offset}, {"len", run.length}};
    if (run.sparse) {
      entry["fill"] = 0;
    } else {
      entry["img_offset"] = run.source_offset;
    }
    runs.push_back(entry);
  }
  json["byte_runs"] = runs;
  for (const FileDigest& digest : file.digests)
    json["hashdigest"][DigestName(digest.kind)] = digest.hex;
  return json;
}

}  // namespace

std::unique_ptr<RunReport> RunReport::Start(const ReportChoice& choice,
                                            const std::string& run_folder,
                                            const ReportSource& source, std::string* error) {
  std::unique_ptr<RunReport> report(new RunReport());
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = run_folder + ReportName(attempt);
    if (report->xml_.Create(path) == FileErrorCause::kNone) break;
    if (report->xml_.last_errno() != EEXIST) {
      *error = "cannot create " + path + ": " + std::strerror(report->xml_.last_errno());
      return nullptr;
    }
  }
  if (!report->xml_.is_open()) {
    *error = "no free report name in " + run_folder;
    return nullptr;
  }
  if (!report->StartWriting(choice, error)) return nullptr;
  report->Write(kOpening + CreatorXml(choice, report->start_ns_ / 1000000000) + SourceXml(source));
  report->WriteJsonOpening(choice, source);
  return report;
}

std::unique_ptr<RunReport> RunReport::Continue(const ReportChoice& choice,
                                               const std::string& run_folder,
                                               const std::string& name, uint64_t length,
                                               const ReportSource& source, std::string* error) {
  std::unique_ptr<RunReport> report(new RunReport());
  const std::string path = run_folder + name;
  if (report->xml_.Adopt(path, length) != FileErrorCause::kNone) {
    *error = "cannot continue " + path + ": " + std::strerror(report->xml_.last_errno());
    return nullptr;
  }
  if (!report->StartWriting(choice, error)) return nullptr;
  report->WriteJsonOpening(choice, source);
  return report;
}

bool RunReport::StartWriting(const ReportChoice& choice, std::string* error) {
  digests_ = choice.digests;
  start_ns_ = NowNs();
  path_ = xml_.path();
  if (choice.json_lines_path == "-") {
    json_ = stdout;
    json_is_stdout_ = true;
  } else if (!choice.json_lines_path.empty()) {
    json_ = std::fopen(choice.json_lines_path.c_str(), "we");
    if (json_ == nullptr) {
      *error = "cannot create " + choice.json_lines_path + ": " + std::strerror(errno);
      xml_.Discard();
      return false;
    }
  }
  worker_ = std::make_unique<HashWorker>();
  return true;
}

void RunReport::WriteJsonOpening(const ReportChoice& choice, const ReportSource& source) {
  if (json_ == nullptr) return;
  WriteJsonLine(
      {{"creator",
        {{"program", "Kestrel"},
         {"version", KESTREL_VERSION},
         {"command_line", choice.command_line.empty() ? OwnCommandLine() : choice.command_line},
         {"start_time", IsoTime(start_ns_ / 1000000000).value_or("")}}}});
  WriteJsonLine({{"source",
                  {{"image_filename", source.path},
                   {"size", source.size},
                   {"sector_size", source.sector_size},
                   {"container", source.container}}}});
}

void RunReport::WriteJsonLine(const nlohmann::json& line) {
  std::fprintf(json_, "%s\n",
               line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

RunReport::~RunReport() {
  Finish();
}

void RunReport::Write(const std::string& text) {
  if (xml_.Write(text.data(), text.size()) != FileErrorCause::kNone) failed_ = true;
}

void RunReport::Add(ReportedFile file) {
  if (finished_) return;
  worker_->RunOrPost([this, file = std::move(file)] { WriteFile(file); });
}

void RunReport::Add(ReportedFile file, WrittenDigest digest) {
  if (finished_) return;
  digest.Finish([this, file = std::move(file)](std::vector<FileDigest> digests) mutable {
    file.digests = std::move(digests);
    WriteFile(file);
  });
}

void RunReport::WriteFile(const ReportedFile& file) {
  Write(FileXml(file));
  if (json_ != nullptr) WriteJsonLine({{"fileobject", FileJson(file)}});
}

void RunReport::SetResumptions(std::vector<RunResumption> resumptions) {
  resumptions_ = std::move(resumptions);
}

void RunReport::WhenWritten(std::function<void(uint64_t length)> then) {
  worker_->Post([this, then = std::move(then)] {
    if (xml_.Flush() != FileErrorCause::kNone) failed_ = true;
    then(xml_.Length());
  });
}

bool RunReport::Finish() {
  if (finished_) return !failed_;
  finished_ = true;
  worker_->Drain();
  const int64_t end_ns = NowNs();
  Write(ClosingXml(start_ns_, end_ns, resumptions_));
  if (json_ != nullptr) {
    nlohmann::json end = {{"end_time", IsoTime(end_ns / 1000000000).value_or("")}};
    for (const RunResumption& resumption : resumptions_) {
      end["resumed"].push_back(
          {{"sector", resumption.sector}, {"time", IsoTime(resumption.unix_seconds).value_or("")}});
    }
    WriteJsonLine({{"end", end}});
    if (json_is_stdout_) {
      std::fflush(json_);
    } else {
      std::fclose(json_);
    }
    json_ = nullptr;
  }
  if (xml_.Close() != FileErrorCause::kNone) failed_ = true;
  return !failed_;
}

}  // namespace kestrel
