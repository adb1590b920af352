// A small HTTP/1.1 server on 127.0.0.1 for the model's tests: it records every request it
// receives and answers each with the response the test set.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

namespace setup {

struct ReceivedRequest {
  QByteArray method;
  QByteArray path;
  QList<std::pair<QByteArray, QByteArray>> headers;
  QByteArray body;
  // The value of the first header of that name (case-insensitive), or empty.
  QByteArray header(const QByteArray& name) const;
};

struct CannedResponse {
  int status = 200;
  QByteArray contentType = "application/json";
  QByteArray body;
  // Keep the connection open and never answer.
  bool neverAnswer = false;
  // Answer only after this many milliseconds.
  int delayMs = 0;
};

class TestHttpServer : public QObject {
  Q_OBJECT

 public:
  TestHttpServer();
  // Listens on a free port of 127.0.0.1.
  bool listen();
  QUrl url() const;
  void respondWith(CannedResponse response) { response_ = std::move(response); }
  const QList<ReceivedRequest>& requests() const { return requests_; }

 signals:
  void requestReceived();

 private:
  void serve(QTcpSocket* socket);

  QTcpServer server_;
  CannedResponse response_;
  QList<ReceivedRequest> requests_;
};

// A port on 127.0.0.1 that nothing listens on (taken, then released).
quint16 closedPort();

}  // namespace setup
