// Gives every unit test program a private XDG_RUNTIME_DIR, so that test
// programs running side by side never share the control channel's socket.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

class IsolatedRuntimeDir : public ::testing::Environment {
public:
	void SetUp() override
	{
		dir_ = std::make_unique<ScratchDir>();
		SetEnvironment("XDG_RUNTIME_DIR", dir_->path().string());
	}
	void TearDown() override { dir_.reset(); }

private:
	std::unique_ptr<ScratchDir> dir_;
};

const auto *const registered = ::testing::AddGlobalTestEnvironment(new IsolatedRuntimeDir);

} // namespace
} // namespace zelvan::test
