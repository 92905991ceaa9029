#include "ornpe/engine_probe.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QTcpSocket>

#include "link/api_frame.h"

namespace orn {

bool AskPortList(const std::string& host, int port, int timeoutMs, std::string* text, std::string* why) {
  QTcpSocket s;
  s.connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
  if (!s.waitForConnected(timeoutMs)) {
    *why = s.errorString().toStdString();
    return false;
  }
  const std::string ask = EncodeApiFrame({0, 'G', 0, "", "", ""});
  s.write(ask.data(), static_cast<qint64>(ask.size()));
  ApiFrameReader reader;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeoutMs) {
    if (!s.waitForReadyRead(static_cast<int>(std::max<qint64>(1, timeoutMs - clock.elapsed())))) break;
    const QByteArray bytes = s.readAll();
    reader.Feed(bytes.constData(), static_cast<size_t>(bytes.size()));
    ApiFrame f;
    for (;;) {
      const auto r = reader.Next(&f);
      if (r == ApiFrameReader::Result::NeedMore) break;
      if (r == ApiFrameReader::Result::Broken) {
        *why = "it does not speak the packet-engine TCP API";
        return false;
      }
      if (f.kind == 'G') {
        *text = f.data.substr(0, f.data.find('\0'));
        s.disconnectFromHost();
        return true;
      }
    }
  }
  *why = s.state() == QAbstractSocket::ConnectedState ? "no answer to the port list question"
                                                      : s.errorString().toStdString();
  return false;
}

}  // namespace orn
