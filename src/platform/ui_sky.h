// Two views of the satellites a receiver reports, as controls of a panel
// resource: a sky plot (elevation and azimuth, north up, east to the right)
// and a C/N0 bar chart (one bar per satellite). In a Qt Designer file they
// appear under their class names "SkyPlot" and "Cn0BarChart" (made by the
// panel loader once RegisterSkyWidgets has run). Qt-free, like ui.h.
#pragma once

// The system a satellite belongs to: its colour in both views.
enum class SkySystem { kGps, kSbas, kGlonass, kGalileo, kOther };

struct SkySatellite {
  int prn = 0;
  int elevation = -1;  // degrees, -1 unknown
  int azimuth = -1;    // degrees from north, -1 unknown
  int cn0 = -1;        // dB-Hz, -1 unknown
  bool used = false;   // in the receiver's solution
  SkySystem system = SkySystem::kOther;
};

// Makes the class names known to the panel loader; call before loading a
// panel that holds such a control. Repeated calls do no harm.
void RegisterSkyWidgets();

// Replaces the satellites shown by a SkyPlot or Cn0BarChart control. A sky
// plot leaves out satellites without elevation or azimuth; a bar chart shows
// every satellite, an unknown C/N0 as an empty slot. Returns 0 or a negative
// error.
int SetSkySatellites(int panel, int control, const SkySatellite* satellites, int count);

// Short name of a system for legends and lists ("GPS", "SBAS", "GLONASS", ...).
const char* SkySystemName(SkySystem system);
int SkySystemColor(SkySystem system);
