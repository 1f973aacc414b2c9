// Contract of the panel resource "GNSS_UI_AUTOHO.uir": the moving receiver
// test's run panel. Each name is the objectName of the widget in the resource;
// loading the panel fails if one is missing.
#pragma once

#include "platform/ui.h"

enum GnssUiAutohoPanel {
  MOVRUN = 1,  // "MOVRUN"
};

enum GnssUiAutohoControl {
  MOVRUN_LOG = 2,
  MOVRUN_TRACK = 3,
  MOVRUN_GRAPH_2D = 4,
  MOVRUN_GRAPH_3D = 5,
  MOVRUN_SAT_TABLE = 6,
  MOVRUN_USED_SATS = 7,
  MOVRUN_REMAINING = 8,
  MOVRUN_NO_FIX_TIME = 9,
  MOVRUN_ERR_2D = 10,
  MOVRUN_ERR_3D = 11,
  MOVRUN_RX_TIME = 12,
  MOVRUN_T_READ = 13,
  MOVRUN_T_UPDATE = 14,
  MOVRUN_T_EVENTS = 15,
  MOVRUN_ABORT = 16,
  MOVRUN_EXIT = 17,
  MOVRUN_PROGRESS = 18,  // seconds to go and the latest errors
};

inline constexpr ControlEntry kGnssUiAutohoControls[] = {
    {MOVRUN, MOVRUN, "MOVRUN"},
    {MOVRUN, MOVRUN_LOG, "MOVRUN_LOG"},
    {MOVRUN, MOVRUN_TRACK, "MOVRUN_TRACK"},
    {MOVRUN, MOVRUN_GRAPH_2D, "MOVRUN_GRAPH_2D"},
    {MOVRUN, MOVRUN_GRAPH_3D, "MOVRUN_GRAPH_3D"},
    {MOVRUN, MOVRUN_SAT_TABLE, "MOVRUN_SAT_TABLE"},
    {MOVRUN, MOVRUN_USED_SATS, "MOVRUN_USED_SATS"},
    {MOVRUN, MOVRUN_REMAINING, "MOVRUN_REMAINING"},
    {MOVRUN, MOVRUN_NO_FIX_TIME, "MOVRUN_NO_FIX_TIME"},
    {MOVRUN, MOVRUN_ERR_2D, "MOVRUN_ERR_2D"},
    {MOVRUN, MOVRUN_ERR_3D, "MOVRUN_ERR_3D"},
    {MOVRUN, MOVRUN_RX_TIME, "MOVRUN_RX_TIME"},
    {MOVRUN, MOVRUN_T_READ, "MOVRUN_T_READ"},
    {MOVRUN, MOVRUN_T_UPDATE, "MOVRUN_T_UPDATE"},
    {MOVRUN, MOVRUN_T_EVENTS, "MOVRUN_T_EVENTS"},
    {MOVRUN, MOVRUN_ABORT, "MOVRUN_ABORT"},
    {MOVRUN, MOVRUN_EXIT, "MOVRUN_EXIT"},
    {MOVRUN, MOVRUN_PROGRESS, "MOVRUN_PROGRESS"},
};

inline constexpr PanelContract kGnssUiAutohoContract = {
    "GNSS_UI_AUTOHO.uir", kGnssUiAutohoControls,
    sizeof kGnssUiAutohoControls / sizeof kGnssUiAutohoControls[0]};
