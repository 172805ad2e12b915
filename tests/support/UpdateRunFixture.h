// An in-process engine against the device simulator on a pseudo-terminal, with a recording window.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Work_BK.h"
#include "support/DevSimProcess.h"
#include "support/RecordingWindow.h"
#include "support/SimLog.h"
#include "support/TestSupport.h"

class UpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the simulator's sample set into the files folder and keeps only `keep` of the images.
    void UseSamples(const std::vector<std::string>& keep);
    // Starts the simulator (with extra options) and the engine; waits for the device information and
    // both settings answers.
    void Connect(const std::vector<std::string>& simOptions = {});
    // Starts a run and waits for its end (step 7).
    bool RunUpdate(int timeoutMs = 60000);
    // Stops the simulator so its --out files are complete; returns the frames it logged. Everything
    // the engine wrote before is in them; a frame the engine writes after the run has ended (the
    // acknowledgement of a device notice) is waited for with WaitForLogged first.
    std::vector<testsupport::LoggedFrame> StopDevice();
    // True once the simulator has logged a frame with command `cmd` from the tool.
    bool WaitForLogged(uint8_t cmd, int timeoutMs = 5000) const;

    std::string FilesDir() const { return dir_.Path() + "/files/"; }
    std::string OutDir() const { return dir_.Path() + "/out"; }
    // Messages of one kind, in order.
    std::vector<testsupport::EngineMessage> MessagesOf(uint32_t message) const;

    testsupport::TempDir dir_;
    testsupport::RecordingWindow window_;
    std::unique_ptr<testsupport::DevSimProcess> sim_;
    CWork_BK& engine_ = *CWork_BK::Instance();
};
