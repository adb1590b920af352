// Running one child process to its end and collecting what it wrote.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace setup {

struct RunResult {
  // True exactly when the child started and exited normally with status 0.
  bool ok = false;
  // Standard output and standard error as one text in the order written, decoded as UTF-8 and
  // untrimmed; "Unknown error" when the bytes are not valid UTF-8; the system's description of
  // the failure when the child could not be started.
  QString output;
};

// Starts `executable` (a path; no shell, no search) with `arguments` unchanged and exactly
// `environment`, one pipe as both its standard output and standard error, standard input and
// working folder inherited, and blocks until it has exited and its pipe is drained. The pipe is
// read while the child runs, so a child that writes more than a pipe holds still finishes.
RunResult runToEnd(const QString& executable, const QStringList& arguments,
                   const QProcessEnvironment& environment);

// The application's environment with "UV_PROJECT_ENVIRONMENT" set to `uvEnvironment`,
// replacing any inherited value.
QProcessEnvironment productEnvironment(const QString& uvEnvironment);

// Decodes a child's output: strict UTF-8, "Unknown error" for anything else.
QString decodeOutput(const QByteArray& bytes);

}  // namespace setup
