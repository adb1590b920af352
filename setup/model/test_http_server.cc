#include "setup/model/test_http_server.h"

#include <QTcpSocket>
#include <QTimer>

namespace setup {

QByteArray ReceivedRequest::header(const QByteArray& name) const {
  for (const auto& [key, value] : headers) {
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
  }
  return {};
}

TestHttpServer::TestHttpServer() {
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) serve(socket);
  });
}

bool TestHttpServer::listen() {
  return server_.listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpServer::url() const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

void TestHttpServer::serve(QTcpSocket* socket) {
  socket->setParent(this);
  auto buffer = std::make_shared<QByteArray>();
  connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
    *buffer += socket->readAll();
    const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
    if (headerEnd < 0) return;
    ReceivedRequest request;
    const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines[i].indexOf(':');
      if (colon < 0) continue;
      const QByteArray key = lines[i].left(colon).trimmed();
      const QByteArray value = lines[i].mid(colon + 1).trimmed();
      request.headers.append({key, value});
      if (key.compare("Content-Length", Qt::CaseInsensitive) == 0)
        contentLength = value.toLongLong();
    }
    if (buffer->size() < headerEnd + 4 + contentLength) return;  // body still on its way
    request.body = buffer->mid(headerEnd + 4, contentLength);
    buffer->clear();
    requests_.append(request);
    emit requestReceived();
    if (response_.neverAnswer) return;

    const CannedResponse response = response_;
    QTimer::singleShot(response.delayMs, socket, [socket, response] {
      QByteArray answer = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
      answer += "Content-Type: " + response.contentType + "\r\n";
      answer += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
      answer += "Connection: close\r\n\r\n";
      answer += response.body;
      socket->write(answer);
      socket->disconnectFromHost();
    });
  });
}

quint16 closedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

}  // namespace setup
