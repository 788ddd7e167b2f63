// Gives every unit test program a control channel name of its own, so that
// test programs running side by side never share the channel.
#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

class IsolatedChannel : public ::testing::Environment {
public:
	void SetUp() override
	{
		const ScratchDir unique; // its random name is all that is needed
		SetEnvironment("ZELVAN_TEST_CHANNEL", unique.path().filename().string());
	}
};

const auto *const registered = ::testing::AddGlobalTestEnvironment(new IsolatedChannel);

} // namespace
} // namespace zelvan::test
