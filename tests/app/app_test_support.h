#pragma once
// Support for the window's tests: the registry of test groups, a scripted DialogHost (no modal
// box ever blocks a test) and a fixture that gives one window its own settings, device map and
// recovery folder in a temporary folder.

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QObject>
#include <QTemporaryDir>

#include "app/app_state.h"
#include "app/dialog_host.h"
#include "app/kestrel_dlg.h"

namespace kestrel::testing {

struct AppTestGroup {
  const char* name;
  std::function<std::unique_ptr<QObject>()> make;
};
std::vector<AppTestGroup>& AppTestGroups();

struct AppTestRegistrar {
  AppTestRegistrar(const char* name, std::function<std::unique_ptr<QObject>()> make) {
    AppTestGroups().push_back({name, std::move(make)});
  }
};

// Registers a QtTest class as the group `name` (the stem of its file without "_test").
#define KESTREL_APP_TEST_GROUP(Class, name)                      \
  static ::kestrel::testing::AppTestRegistrar registrar_##Class( \
      name, [] { return std::unique_ptr<QObject>(new Class); })

class ScriptedHost : public DialogHost {
 public:
  struct Shown {
    int id;
    MessageIcon icon;
    QString text;
    MessageButtons buttons;
  };

  MessageAnswer ShowMessage(QWidget* parent, int message_id, MessageIcon icon, const QString& text,
                            MessageButtons buttons) override;
  int RunModal(QDialog& dialog) override;
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString ChooseFile(QWidget* parent, const QString& title, const QString& start) override;
  int AskChoice(QWidget* parent, const QString& text, const QStringList& choices) override;
  bool OpenUrl(const QUrl& url) override;

  // Ids of the messages shown, in order.
  std::vector<int> Ids() const;
  int Count(int message_id) const;

  // Answers to Yes/No questions, in order; No when the script runs out.
  std::deque<MessageAnswer> answers;
  // Called with each modal dialog instead of running it; Rejected when unset.
  std::function<int(QDialog&)> on_modal;
  // Called at each message box, before it is answered.
  std::function<void(int message_id)> on_message;
  // Answers of the folder browser; "" (cancel) when the script runs out.
  std::deque<QString> folders;
  // Answers of the file browser; "" (cancel) when the script runs out.
  std::deque<QString> files;
  // Buttons pressed in choice boxes, in order; -1 (closed) when the script runs out.
  std::deque<int> choices;
  // The texts of the choice boxes asked.
  QStringList choice_texts;
  bool open_succeeds = true;

  std::vector<Shown> messages;
  std::vector<QUrl> opened;
  int modal_runs = 0;
  int folder_questions = 0;
};

// One window's world in a temporary folder: registry.reg, devices.conf, Recover/, and the
// special folders home/Desktop and home/Documents.
class WindowFixture {
 public:
  // Stores Recover/ of the temporary folder as the recovery folder unless `clean_settings`.
  explicit WindowFixture(bool clean_settings = false);
  ~WindowFixture();

  QString Path(const QString& name) const;
  std::string PathStd(const std::string& name) const;

  // Device map lines; written when the window is opened.
  void AttachVolume(char letter, const std::string& image_name, bool removable = false);
  void AttachDisk(const std::string& image_name);
  // Stores the recovery folder (default: Recover/ in the temporary folder).
  void StoreRecoveryFolder(const std::string& folder);

  // Enumerates the devices and opens the main window (not shown).
  CKestrelDlg& OpenWindow();
  CKestrelDlg& window() { return *window_; }
  AppState& app() { return *app_; }
  std::string RecoveryFolder() const { return PathStd("Recover"); }

  ScriptedHost host;

 private:
  QTemporaryDir dir_;
  std::vector<std::string> map_lines_;
  std::unique_ptr<AppState> app_;
  std::unique_ptr<CKestrelDlg> window_;
};

// A disk image of the project's samples (PNG, GIF, JPEG) among zero sectors, long enough for
// several 64-sector chunks.
void WriteSampleImage(const std::string& path);
// An image of zero sectors only.
void WriteEmptyImage(const std::string& path, int sectors = 300);

// The widget of a control id of `parent` ("ctl1304"); fails the test when it is missing.
template <typename Widget>
Widget* Control(QObject* parent, int id) {
  return parent->findChild<Widget*>(QStringLiteral("ctl%1").arg(id));
}

}  // namespace kestrel::testing
