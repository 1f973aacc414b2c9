#include "state/StationState.h"

int MainPanelHandle = 0;
int AbortFlag = 0;
std::string RunLogDirectory;
bool RunLogIncomplete = false;
std::string LevelOffset;
