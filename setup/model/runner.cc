#include "setup/model/runner.h"

#include <QProcess>
#include <QStringDecoder>

namespace setup {

QString decodeOutput(const QByteArray& bytes) {
  // Stateless: a sequence cut off at the end is an error rather than held back for more input.
  // ConvertInitialBom keeps a leading byte-order mark, as the output is shown untouched.
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                     QStringConverter::Flag::ConvertInitialBom);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return QStringLiteral("Unknown error");
  return text;
}

QProcessEnvironment productEnvironment(const QString& uvEnvironment) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("UV_PROJECT_ENVIRONMENT"), uvEnvironment);
  return environment;
}

RunResult runToEnd(const QString& executable, const QStringList& arguments,
                   const QProcessEnvironment& environment) {
  QProcess process;
  process.setProgram(executable);
  process.setArguments(arguments);
  process.setProcessEnvironment(environment);
  // Both streams go into one pipe, so the text keeps the order in which the child wrote it.
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setInputChannelMode(QProcess::ForwardedInputChannel);
  process.start(QIODevice::ReadOnly);
  if (!process.waitForStarted(-1)) return {false, process.errorString()};

  // waitForFinished reads the pipe into the process's buffer as data arrives; no time limit, as
  // a script may legitimately take long.
  process.waitForFinished(-1);
  const QByteArray collected = process.readAll();
  const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  return {ok, decodeOutput(collected)};
}

}  // namespace setup
