// Opens the station's SimulatorSession to a RecordingPeer for one test.
#pragma once

#include <gtest/gtest.h>

#include "instrument/DUT_IP_Control.h"
#include "support/RecordingPeer.h"

inline ViSession OpenPeerSession(RecordingPeer& peer, ViAttrState timeoutMs) {
  ViSession manager = VI_NULL;
  ViSession session = VI_NULL;
  EXPECT_EQ(viOpenDefaultRM(&manager), VI_SUCCESS);
  EXPECT_EQ(viOpen(manager, peer.Resource().c_str(), VI_NO_LOCK, 0, &session), VI_SUCCESS)
      << peer.Resource();
  viSetAttribute(session, VI_ATTR_TMO_VALUE, timeoutMs);
  ResourceManagerSession = manager;
  SimulatorSession = session;
  return session;
}

inline void CloseSessions() {
  if (SimulatorSession != VI_NULL) viClose(SimulatorSession);
  if (ResourceManagerSession != VI_NULL) viClose(ResourceManagerSession);
  SimulatorSession = VI_NULL;
  ResourceManagerSession = VI_NULL;
}
