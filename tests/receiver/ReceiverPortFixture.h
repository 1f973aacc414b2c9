// The receiver port open on a fresh pseudo-terminal, reached as COM<n>
// through a COM directory of its own; closed again after each test.
#pragma once

#include <gtest/gtest.h>

#include "pty_pair.h"
#include "receiver/ReceiverLink.h"

class ReceiverPortFixture : public ::testing::Test {
 protected:
  explicit ReceiverPortFixture(int comNumber) : comNumber_(comNumber) {}
  void SetUp() override {
    com_.Link(comNumber_, pty_.slavePath());
    testing::internal::CaptureStdout();
    ASSERT_EQ(OpenReceiverPort(comNumber_), 0);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override { CloseReceiverPort(); }

  PtyPair pty_;
  ComDirectory com_;

 private:
  int comNumber_;
};
