// A real consumer of the virtual receiver: gpsd reads the pseudo-terminal
// and its reports must put the receiver within the configured noise of the
// emulator's truth. gpsd validates every sentence on its own terms, so this
// shows the stream is NMEA that common receiver software accepts.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "vreceiver_lab.h"

namespace {

constexpr double kNoise = 4.0;
constexpr int kGps = 5, kGalileo = 3, kGlonass = 2;
constexpr const char* kGpsd = "/usr/sbin/gpsd";

// gpsd's JSON reports, one object a line, after ?WATCH.
class GpsdClient {
 public:
  bool Connect(int port, double seconds) {
    return client_.ConnectWithin(port, seconds) &&
           client_.Send("?WATCH={\"enable\":true,\"json\":true};\n");
  }

  // The next report of the given class, or an empty object after `seconds`.
  QJsonObject Next(const QString& cls, double seconds) {
    const auto end = vrx::Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const double left = std::chrono::duration<double>(end - vrx::Clock::now()).count();
      const std::optional<std::string> line = client_.ReadLine(std::max(left, 0.0));
      if (!line) return {};
      const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(*line)).object();
      if (o.value("class").toString() == cls) return o;
    }
  }

 private:
  LoopbackLineClient client_;
};

TEST(GpsdConsumerTest, FixesLieWithinTheNoiseOfTheTruth) {
  if (::access(kGpsd, X_OK) != 0)
    GTEST_SKIP() << kGpsd << " is not installed (Debian package gpsd)";
  vrx::Lab lab;
  std::string error;
  // Time at the lab's normal pace: gpsd judges epochs by its own clock.
  ASSERT_TRUE(lab.Start({"--ttff", "2", "--noise", std::to_string(kNoise)}, "1", &error)) << error;
  lab.Scenario(kGps, kGalileo, kGlonass, -122.084, 37.422, 30.0);  // a western longitude
  const vrx::Truth truth = lab.Location();
  const std::string device = vrx::fs::canonical(lab.Link()).string();

  // gpsd in the foreground, read-only on the device, with its own control
  // socket and a free port; started again on another port if it lost a race
  // for the one chosen.
  vrx::Child gpsd;
  int port = 0;
  GpsdClient client;
  bool connected = false;
  for (int attempt = 0; attempt < 3 && !connected; ++attempt) {
    gpsd.Stop();
    port = FreeLoopbackPort();
    ASSERT_TRUE(gpsd.Spawn({kGpsd, "-N", "-n", "-b", "-F", lab.Dir() + "/gpsd.sock", "-S",
                            std::to_string(port), device},
                           {}, lab.Dir(), &error))
        << error;
    connected = client.Connect(port, 5.0) && gpsd.Running();
  }
  ASSERT_TRUE(connected) << "gpsd did not listen: " << gpsd.Output();

  int fixes = 0;
  const auto end = vrx::Clock::now() + std::chrono::seconds(30);
  while (fixes < 4 && vrx::Clock::now() < end) {
    const QJsonObject tpv = client.Next("TPV", 5.0);
    if (tpv.isEmpty()) break;
    if (tpv.value("mode").toInt() < 3 || !tpv.contains("lat") || !tpv.contains("altHAE")) continue;
    ++fixes;
    double distance = 0;
    GeographicLib::Geodesic::WGS84().Inverse(truth.latitude, truth.longitude,
                                             tpv.value("lat").toDouble(),
                                             tpv.value("lon").toDouble(), distance);
    EXPECT_LE(distance, kNoise + 0.05) << QJsonDocument(tpv).toJson().toStdString();
    EXPECT_LE(std::fabs(tpv.value("altHAE").toDouble() - truth.altitude), kNoise + 0.15);
    EXPECT_EQ(tpv.value("device").toString().toStdString(), device);
  }
  EXPECT_EQ(fixes, 4) << "gpsd reported too few 3D fixes; its log:\n" << gpsd.Output();

  // Its sky view, once it has gathered a whole epoch's groups: every
  // radiated satellite, all used, Galileo among them.
  QJsonArray satellites;
  for (int k = 0; k < 10 && satellites.size() != kGps + kGalileo + kGlonass; ++k)
    satellites = client.Next("SKY", 5.0).value("satellites").toArray();
  ASSERT_EQ(satellites.size(), kGps + kGalileo + kGlonass);
  int galileo = 0;
  for (const auto& s : satellites) {
    EXPECT_TRUE(s.toObject().value("used").toBool());
    galileo += s.toObject().value("gnssid").toInt() == 2 ? 1 : 0;
  }
  EXPECT_EQ(galileo, kGalileo);
}

}  // namespace
