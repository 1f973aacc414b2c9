// The run panel of test 001 on a real X server (Xvfb) in the middle of a
// drive around the circle route: the track canvas shows the route's shape
// and the satellite table fills with green cells. ImageMagick grabs the
// panel's window by its title.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <string>

#include "MovingLab.h"

namespace {

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

// Pixels within `tolerance` of `colour` (sum of channel differences).
Box PixelsOf(const QImage& image, QColor colour, int tolerance) {
  Box box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) >
          tolerance)
        continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
      ++box.count;
    }
  return box;
}

TEST(MovingScreen, RunPanelMidDriveShowsTheRouteAndTheSatellites) {
  if (std::system("command -v Xvfb >/dev/null 2>&1 && command -v import >/dev/null 2>&1 && "
                  "command -v xwininfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Xvfb, xwininfo or ImageMagick's import is missing";
  MovingLab lab("screen", "0.05", {"--ttff", "3"});
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const auto dir = lab.Workdir();
  const auto shot = dir / "panel.png";
  const auto display = dir / "display";
  std::string station =
      Quoted(STATION_BINARY_DIR "/bin/gnss-station") + " --workdir " + Quoted(dir.string());
  for (const std::string& action :
       lab.Settings({"set MOVING_WAYPOINTS=/routes/circle.txt", "set MOVING_DURATION=400"}))
    station += " --do " + Quoted(action);
  station += " --run 001";
  // The track is cleared at lab second 120 of the station's clock (and
  // whenever its scale grows, as it does in the first lap: the route starts
  // at its north point, 200 m from its centre). About 230 lab seconds after
  // the start (11.5 s at this scale) the passes since that clear have drawn
  // more than one lap of the 72-second circle, and the next clear at 240 is
  // still ahead.
  const std::string script =
      "Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>" + Quoted(display.string()) +
      " 2>/dev/null & xvfb=$!\n"
      "for i in $(seq 1 100); do [ -s " +
      Quoted(display.string()) +
      " ] && break; sleep 0.1; done\n"
      "export DISPLAY=:$(cat " +
      Quoted(display.string()) +
      ")\n"
      "export GNSS_TIME_SCALE=0.05 GNSS_COM_DIR=" +
      Quoted((dir / "COM").string()) +
      "\n"
      "unset QT_QPA_PLATFORM WAYLAND_DISPLAY\n" +
      station + " >" + Quoted((dir / "out.txt").string()) +
      " 2>&1 & pid=$!\n"
      "sleep 11.5\n"
      "id=$(xwininfo -root -tree | grep 'Moving Receiver Test (Test 001)' | awk '{print $1}' | "
      "head -1)\n"
      "[ -n \"$id\" ] && import -window \"$id\" " +
      Quoted(shot.string()) +
      "\n"
      "kill $pid; wait $pid\n"
      "kill $xvfb; wait $xvfb\n";
  ASSERT_EQ(std::system(("sh -c " + Quoted(script) + " >/dev/null 2>&1").c_str()) >= 0, true);

  QImage panel;
  ASSERT_TRUE(panel.load(QString::fromStdString(shot.string())))
      << "no screenshot of the run panel: " << ReadText(dir / "out.txt");
  // The simulated route (dark green) closes into a ring: wide and tall, with
  // nothing drawn in its middle. The track canvas is in the panel's upper
  // left quarter (below it, the table's bullets on green are dark green too).
  const QImage canvasArea = panel.copy(0, 0, panel.width() / 2, panel.height() * 45 / 100);
  const Box route = PixelsOf(canvasArea, QColor(0, 128, 0), 40);
  EXPECT_GT(route.count, 30);
  EXPECT_GT(route.right - route.left, 80);
  EXPECT_GT(route.bottom - route.top, 70);
  const int cx = (route.left + route.right) / 2, cy = (route.top + route.bottom) / 2;
  const Box middle = PixelsOf(canvasArea.copy(cx - 30, cy - 30, 60, 60), QColor(0, 128, 0), 40);
  EXPECT_EQ(middle.count, 0);
  // The receiver's track (red) lies on it, within the canvas.
  const Box track =
      PixelsOf(canvasArea.copy(route.left - 10, route.top - 10, route.right - route.left + 20,
                               route.bottom - route.top + 20),
               QColor(255, 0, 0), 60);
  EXPECT_GT(track.count, 60);
  // Green cells of used satellites in the table.
  EXPECT_GT(PixelsOf(panel, QColor(0, 255, 0), 30).count, 500);
  panel.save(QString::fromStdString(
      (std::filesystem::temp_directory_path() / "moving-run-panel.png").string()));
}

}  // namespace
