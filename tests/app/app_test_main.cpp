// Runs the window's test groups: the one named as the first argument, or all of them.

#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QtTest>

#include "app/app_test_support.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("KESTREL_NO_DEVICES", "1");
  QApplication application(argc, argv);
  const auto& groups = kestrel::testing::AppTestGroups();
  const bool named = argc > 1 && argv[1][0] != '-';
  int failures = 0;
  bool found = false;
  for (const auto& group : groups) {
    if (named && std::strcmp(argv[1], group.name) != 0) continue;
    found = true;
    std::unique_ptr<QObject> test = group.make();
    QStringList arguments = {QString::fromLocal8Bit(argv[0])};
    for (int i = named ? 2 : 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    failures += QTest::qExec(test.get(), arguments);
  }
  if (!found) {
    std::fprintf(stderr, "unknown test group %s\n", named ? argv[1] : "");
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
