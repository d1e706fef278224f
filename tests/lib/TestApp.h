#pragma once
// One QApplication for the whole test executable, made on first use.

#include <QApplication>

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "imbrel_tests";
  static char* argv[] = {name, nullptr};
  if (!qApp) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QCoreApplication::instance());
}
