// Contract of the panel resource "GNSS_UI1.uir": the basic localization test's
// run panel. Each name is the objectName of the widget in the resource; loading
// the panel fails if one is missing.
#pragma once

#include "platform/ui.h"

// Panel resource id (the objectName of the panel's top-level widget).
enum GnssUi1Panel {
  RUNPANEL = 200,  // "RunPanel"
};

enum GnssUi1Control {
  RUN_GRAPH_2D = 201,       // 2D error per sampled point and its running average
  RUN_GRAPH_3D = 202,       // the same for the 3D error
  RUN_CANVAS_POINTS = 203,  // the simulated points around the reference point
  RUN_CANVAS_ERRORS = 204,  // the receiver's horizontal offset from each simulated point
  RUN_LOG = 205,            // the progress log
  RUN_ABORT = 206,          // CALLBK_CMDABORT000
  RUN_EXIT = 207,           // CALLBK_CMDEXITTEST000
  RUN_PROGRESS = 208,       // point i of N, the last errors, the failures so far
};

inline constexpr ControlEntry kGnssUi1Controls[] = {
    {RUNPANEL, RUNPANEL, "RunPanel"},
    {RUNPANEL, RUN_GRAPH_2D, "RUN_GRAPH_2D"},
    {RUNPANEL, RUN_GRAPH_3D, "RUN_GRAPH_3D"},
    {RUNPANEL, RUN_CANVAS_POINTS, "RUN_CANVAS_POINTS"},
    {RUNPANEL, RUN_CANVAS_ERRORS, "RUN_CANVAS_ERRORS"},
    {RUNPANEL, RUN_LOG, "RUN_LOG"},
    {RUNPANEL, RUN_ABORT, "RUN_ABORT"},
    {RUNPANEL, RUN_EXIT, "RUN_EXIT"},
    {RUNPANEL, RUN_PROGRESS, "RUN_PROGRESS"},
};

inline constexpr PanelContract kGnssUi1Contract = {
    "GNSS_UI1.uir", kGnssUi1Controls, sizeof kGnssUi1Controls / sizeof kGnssUi1Controls[0]};
