// Contract of the panel resource "GNSS_UI_LIVE.uir": the live receiver view's
// window and the controls the station addresses. LIVE_SKY and LIVE_CN0 are
// the SkyPlot and Cn0BarChart classes of platform/ui_sky.h.
#pragma once

#include "platform/ui.h"

enum GnssUiLivePanel {
  LIVEPANEL = 200,  // "LivePanel"
};

enum GnssUiLiveControl {
  LIVE_PORTS = 201,
  LIVE_RESCAN = 202,
  LIVE_OPEN = 203,
  LIVE_CLOSE = 204,
  LIVE_PROFILE = 205,
  LIVE_COLDSTART = 206,
  LIVE_INIT_GPS = 207,
  LIVE_INIT_GLN = 208,
  LIVE_UTC = 209,
  LIVE_POSITION = 210,
  LIVE_FIXMODE = 211,
  LIVE_USED = 212,
  LIVE_DOPS = 213,
  LIVE_SATELLITES = 214,
  LIVE_SKY = 215,
  LIVE_CN0 = 216,
  LIVE_PAUSE = 217,
  LIVE_NMEA = 218,
  LIVE_STATUS = 219,
  LIVE_DONE = 220,
};

inline constexpr ControlEntry kGnssUiLiveControls[] = {
    {LIVEPANEL, LIVEPANEL, "LivePanel"},
    {LIVEPANEL, LIVE_PORTS, "LIVE_PORTS"},
    {LIVEPANEL, LIVE_RESCAN, "LIVE_RESCAN"},
    {LIVEPANEL, LIVE_OPEN, "LIVE_OPEN"},
    {LIVEPANEL, LIVE_CLOSE, "LIVE_CLOSE"},
    {LIVEPANEL, LIVE_PROFILE, "LIVE_PROFILE"},
    {LIVEPANEL, LIVE_COLDSTART, "LIVE_COLDSTART"},
    {LIVEPANEL, LIVE_INIT_GPS, "LIVE_INIT_GPS"},
    {LIVEPANEL, LIVE_INIT_GLN, "LIVE_INIT_GLN"},
    {LIVEPANEL, LIVE_UTC, "LIVE_UTC"},
    {LIVEPANEL, LIVE_POSITION, "LIVE_POSITION"},
    {LIVEPANEL, LIVE_FIXMODE, "LIVE_FIXMODE"},
    {LIVEPANEL, LIVE_USED, "LIVE_USED"},
    {LIVEPANEL, LIVE_DOPS, "LIVE_DOPS"},
    {LIVEPANEL, LIVE_SATELLITES, "LIVE_SATELLITES"},
    {LIVEPANEL, LIVE_SKY, "LIVE_SKY"},
    {LIVEPANEL, LIVE_CN0, "LIVE_CN0"},
    {LIVEPANEL, LIVE_PAUSE, "LIVE_PAUSE"},
    {LIVEPANEL, LIVE_NMEA, "LIVE_NMEA"},
    {LIVEPANEL, LIVE_STATUS, "LIVE_STATUS"},
    {LIVEPANEL, LIVE_DONE, "LIVE_DONE"},
};

inline constexpr PanelContract kGnssUiLiveContract = {
    "GNSS_UI_LIVE.uir", kGnssUiLiveControls,
    sizeof kGnssUiLiveControls / sizeof kGnssUiLiveControls[0]};
