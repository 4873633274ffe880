#include "app/app_test_support.h"

#include <QDir>

#include "support/image_builder.h"

namespace kestrel::testing {

std::vector<AppTestGroup>& AppTestGroups() {
  static std::vector<AppTestGroup> groups;
  return groups;
}

MessageAnswer ScriptedHost::ShowMessage(QWidget*, int message_id, MessageIcon icon,
                                        const QString& text, MessageButtons buttons) {
  messages.push_back({message_id, icon, text, buttons});
  if (on_message) on_message(message_id);
  if (buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  if (answers.empty()) return MessageAnswer::kNo;
  MessageAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

int ScriptedHost::RunModal(QDialog& dialog) {
  ++modal_runs;
  return on_modal ? on_modal(dialog) : QDialog::Rejected;
}

QString ScriptedHost::ChooseFolder(QWidget*, const QString&, const QString&) {
  ++folder_questions;
  if (folders.empty()) return {};
  QString folder = folders.front();
  folders.pop_front();
  return folder;
}

QString ScriptedHost::ChooseFile(QWidget*, const QString&, const QString&) {
  if (files.empty()) return {};
  QString file = files.front();
  files.pop_front();
  return file;
}

int ScriptedHost::AskChoice(QWidget*, const QString& text, const QStringList&) {
  choice_texts << text;
  if (choices.empty()) return -1;
  const int choice = choices.front();
  choices.pop_front();
  return choice;
}

bool ScriptedHost::OpenUrl(const QUrl& url) {
  opened.push_back(url);
  return open_succeeds;
}

std::vector<int> ScriptedHost::Ids() const {
  std::vector<int> ids;
  for (const Shown& shown : messages) ids.push_back(shown.id);
  return ids;
}

int ScriptedHost::Count(int message_id) const {
  int count = 0;
  for (const Shown& shown : messages) count += shown.id == message_id ? 1 : 0;
  return count;
}

WindowFixture::WindowFixture(bool clean_settings) {
  QDir().mkpath(Path(QStringLiteral("home/Desktop")));
  QDir().mkpath(Path(QStringLiteral("home/Documents")));
  QDir().mkpath(Path(QStringLiteral("Recover")));
  qputenv("KESTREL_REGISTRY", Path(QStringLiteral("registry.reg")).toLocal8Bit());
  qputenv("KESTREL_DEVICES", Path(QStringLiteral("devices.conf")).toLocal8Bit());
  qputenv("KESTREL_NO_DEVICES", "1");
  if (!clean_settings) StoreRecoveryFolder(RecoveryFolder());
}

WindowFixture::~WindowFixture() {
  window_.reset();
  app_.reset();
}

QString WindowFixture::Path(const QString& name) const {
  return dir_.filePath(name);
}

std::string WindowFixture::PathStd(const std::string& name) const {
  return Path(QString::fromStdString(name)).toStdString();
}

void WindowFixture::AttachVolume(char letter, const std::string& image_name, bool removable) {
  map_lines_.push_back(std::string(1, letter) + ": " + PathStd(image_name) +
                       (removable ? " removable" : ""));
}

void WindowFixture::AttachDisk(const std::string& image_name) {
  map_lines_.push_back("disk " + PathStd(image_name));
}

void WindowFixture::StoreRecoveryFolder(const std::string& folder) {
  SettingsStore(PathStd("registry.reg")).SetString("Default Folder", folder);
}

CKestrelDlg& WindowFixture::OpenWindow() {
  QFile map(Path(QStringLiteral("devices.conf")));
  map.open(QIODevice::WriteOnly);
  for (const std::string& line : map_lines_) map.write((line + "\n").c_str());
  map.close();
  app_ = std::make_unique<AppState>(EnumerateDevices(), PathStd("registry.reg"), host);
  SpecialFolders specials{PathStd("home/Desktop"), PathStd("home/Documents")};
  window_ = std::make_unique<CKestrelDlg>(*app_, specials);
  return *window_;
}

void WriteSampleImage(const std::string& path) {
  ImageBuilder image;
  image.AddZeros(70);
  image.AddSample("picture.png");
  image.AddZeros(70);
  image.AddSample("picture.gif");
  image.AddZeros(70);
  image.AddSample("jfif.jpg");
  image.AddZeros(130);
  image.WriteTo(path);
}

void WriteEmptyImage(const std::string& path, int sectors) {
  ImageBuilder image;
  image.AddZeros(static_cast<uint64_t>(sectors));
  image.WriteTo(path);
}

}  // namespace kestrel::testing
