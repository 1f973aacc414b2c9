// The test procedures. Each runs inside its launch callback, after the launch
// has created RunLogDirectory, opened SimulatorSession and copied LevelOffset,
// and returns when the test is over (files written, port closed).
#pragma once

// Test 000: static random points around the reference position
// (X47_GNSS_Basic.cpp).
void RunBasicTest();
// Test 001: a receiver on a waypoint route or at a fixed position, sampled
// epoch by epoch (X47_GNSS_Moving.cpp).
void RunMovingReceiverTest();
// Test 011: one oscilloscope waveform into SCOPE_OUT.txt, then the basic test
// (X47_GNSS_Scope.cpp).
void RunScopeCaptureTest();

// Tests 003, 004, 009, 010 and 012 connect and record like the others, then
// have nothing to run.
void RunCarrierPhaseTest();
void RunRelativePowerTest();
void RunAutoHoTest();
void RunAbsolutePowerTest();
void RunSemiAutoTest();
