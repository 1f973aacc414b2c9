// The run panel on a real X server (Xvfb) during test 000: screenshots of the
// screen are taken while the test runs, and the one with the most of the
// graphs drawn must show the points on the canvases and the error and average
// segments on the graphs.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "BasicLab.h"

namespace {

using namespace basic_lab;

bool Red(const QColor& c) { return c.red() > 200 && c.green() < 70 && c.blue() < 70; }
bool Blue(const QColor& c) { return c.blue() > 200 && c.red() < 70 && c.green() < 70; }

// What a screenshot shows of the run panel. Only the graphs' average lines
// are blue; the canvases lie to the left of the graphs.
struct Shot {
  int blue = 0;
  int graphsLeft = 0;       // leftmost blue pixel
  int redOnGraphs = 0;      // red pixels right of it
  int redLeftOfGraphs = 0;  // red pixels well left of the graphs: canvas points
};

Shot Analyse(const QImage& image) {
  Shot shot;
  shot.graphsLeft = image.width();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (Blue(image.pixelColor(x, y))) {
        ++shot.blue;
        shot.graphsLeft = std::min(shot.graphsLeft, x);
      }
    }
  }
  // The y axis and its labels lie between the canvases and the first segment.
  const int canvasesEnd = shot.graphsLeft - 80;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!Red(image.pixelColor(x, y))) continue;
      if (x >= shot.graphsLeft) ++shot.redOnGraphs;
      if (x < canvasesEnd) ++shot.redLeftOfGraphs;
    }
  }
  return shot;
}

TEST(BasicRunPanelWindow, CanvasesShowPointsAndGraphsShowSegmentsDuringTheTest) {
  if (std::system("command -v Xvfb >/dev/null 2>&1 && command -v import >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "Xvfb or ImageMagick's import is missing";
  }
  Lab lab("window", "0.05");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const fs::path dir = lab.Dir();
  const fs::path display = dir / "display";
  std::string station = "GNSS_TIME_SCALE=0.05 " + Quote(kStation) + " --workdir " + Quote(dir);
  for (const std::string& action :
       {"set MAIN_DUTIP=127.0.0.1::" + std::to_string(lab.Port()) + "::SOCKET",
        std::string("set MAIN_COMPORT=3"), std::string("set BASIC_ITERATIONS=6"),
        std::string("set BASIC_MAX_FIXTIME=60")}) {
    station += " --do " + Quote(action);
  }
  station += " --run 000";
  // Screenshots of the screen for as long as the station runs; shot-N.png.
  const std::string script =
      "cd " + Quote(dir) +
      "\nXvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>display 2>/dev/null & xvfb=$!\n"
      "for i in $(seq 1 100); do [ -s display ] && break; sleep 0.1; done\n"
      "export DISPLAY=:$(cat display)\n" +
      station +
      " >station.out 2>station.err & pid=$!\n"
      "n=0\n"
      "while kill -0 $pid 2>/dev/null; do\n"
      "  if import -window root shot.png 2>/dev/null; then\n"
      "    n=$((n+1)); mv shot.png shot-$n.png\n"
      "  fi\n"
      "  sleep 0.2\n"
      "done\n"
      "wait $pid; echo exit=$?\n"
      "kill $xvfb; wait $xvfb\n"
      "echo shots=$n\n";
  const std::string command = "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY sh -c " + Quote(script) +
                              " >" + Quote(dir / "script.out") + " 2>&1";
  std::system(command.c_str());
  const std::string report = ReadFile(dir / "script.out");
  EXPECT_NE(report.find("exit=0"), std::string::npos) << report << ReadFile(dir / "station.err");
  const auto at = report.rfind("shots=");
  const int shots = at == std::string::npos ? 0 : std::atoi(report.c_str() + at + 6);
  ASSERT_GT(shots, 0) << "the run panel never showed: " << report;

  Shot best;
  int bestNumber = 0;
  for (int n = 1; n <= shots; ++n) {
    QImage image;
    if (!image.load(
            QString::fromStdString((dir / ("shot-" + std::to_string(n) + ".png")).string())))
      continue;
    const Shot shot = Analyse(image);
    if (shot.blue > best.blue) {
      best = shot;
      bestNumber = n;
    }
  }
  // Red error and blue average segments on both graphs.
  EXPECT_GT(best.blue, 60) << "shot " << bestNumber << " of " << shots;
  EXPECT_GT(best.redOnGraphs, 60) << "shot " << bestNumber;
  // Points (3 x 3 red squares) on both canvases: at least two sampled points.
  EXPECT_GE(best.redLeftOfGraphs, 2 * 2 * 9) << "shot " << bestNumber;
}

}  // namespace
