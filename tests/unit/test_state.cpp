// The machine's record of the boards that the tool updated: a later run in the same boot that
// finds the flash current still reports the power cycle as needed, one after the computer
// started again as unconfirmed; a board that differs now needs another run first.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "arguments.h"
#include "environment.h"
#include "json_report.h"
#include "run.h"
#include "state.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;

class MachineState : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vok-state-" + std::to_string(std::random_device{}()));
    set_environment("VANTREL_UPGRADE_STATE_DIR", dir.string());
  }
  void TearDown() override {
    remove_environment("VANTREL_UPGRADE_STATE_DIR");
    fs::remove_all(dir);
  }

  // A run of one board, serial 7, whose regions were written (or not) with this outcome; the
  // state as a new process reads it is applied to it, and saved.
  static update::run_record run_in(const char *boot, update::outcome result, bool written) {
    update::run_record run;
    update::board_record &b = run.boards.emplace_back();
    b.serial = 7;
    b.result = result;
    b.regions.resize(4);
    for (auto &r : b.regions) r.bytes_written = written ? 0x400000 : 0;
    update::machine_state state;
    std::string warning, problem;
    state.load(warning);
    EXPECT_EQ(warning, "");
    if (update::apply_state(state, run, boot, "2026-12-11T10:00:00Z")) {
      EXPECT_TRUE(state.save(problem)) << problem;
    }
    return run;
  }

  fs::path dir;
};

TEST_F(MachineState, AnUpdateIsPendingInItsBootAndUnconfirmedAfter) {
  using update::outcome;
  struct step {
    const char *boot;
    outcome result;
    bool written;
    update::power_cycle expected;
    int msi_exit;   // --yes --msi-exit-codes, when the run itself succeeded
    const char *needed;  // the report's power_cycle_needed
  };
  using pc = update::power_cycle;
  const step steps[] = {
      {"1000000", outcome::updated, true, pc::needed, update::msi_restart_required, "true"},
      {"1000000", outcome::verified, false, pc::needed, update::msi_restart_required, "true"},
      {"2000000", outcome::verified, false, pc::unconfirmed, 0, "null"},
      // Written again in this boot, and interrupted: another run first; that run finds the
      // flash current, and the power cycle is needed again.
      {"2000000", outcome::interrupted, true, pc::run_again, update::msi_user_cancelled, "false"},
      {"2000000", outcome::differs, false, pc::not_needed, update::exit_board_failed, "false"},
      {"2000000", outcome::verified, false, pc::needed, update::msi_restart_required, "true"},
  };
  update::arguments args;
  args.yes = args.msi_exit_codes = true;
  for (const step &s : steps) {
    const update::run_record run = run_in(s.boot, s.result, s.written);
    EXPECT_EQ(update::power_cycle_of(run.boards[0]), s.expected) << s.boot;
    const int value = s.result == outcome::interrupted ? update::exit_interrupted
                      : s.result == outcome::differs    ? update::exit_board_failed
                                                        : 0;
    EXPECT_EQ(update::deployment_exit(args, run, value), s.msi_exit) << s.boot;
    EXPECT_NE(update::to_json(run).find(std::string("\"power_cycle_needed\": ") + s.needed),
              std::string::npos)
        << s.boot;
  }
}

TEST_F(MachineState, ARecordThatIsNotTheToolsIsIgnoredWithAWarning) {
  for (const char *text : {"{", "[]", "{\"schema\": 1, \"boards\": [{\"serial\": \"7\"}]}",
                           "{\"schema\": 2, \"boards\": []}", "{\"schema\": \"1\", \"boards\": []}",
                           "{\"schema\": null, \"boards\": []}"}) {
    fs::create_directories(dir);
    std::ofstream(dir / "state.json") << text;
    update::machine_state state;
    std::string warning;
    state.load(warning);
    EXPECT_NE(warning.find("ignored"), std::string::npos) << text;
    EXPECT_TRUE(state.boards().empty()) << text;
  }
}

TEST_F(MachineState, ARecordThatCannotBeWrittenFailsNoBoard) {
  std::ofstream(dir.string()) << "a file where the folder should be";
  update::machine_state state;
  state.remember({7, "1.0.34.8", "2026-12-11T10:00:00Z", "1000000"});
  std::string problem;
  EXPECT_FALSE(state.save(problem));
  EXPECT_NE(problem, "");
  fs::remove(dir);
}

}  // namespace
}  // namespace vok::test
