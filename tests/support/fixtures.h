// Where the tests' data files are.
#pragma once

#include <string>

namespace zelvan::test {

inline std::string FixturePath(const std::string &name)
{
	return std::string(ZELVAN_FIXTURE_DIR) + "/" + name;
}

} // namespace zelvan::test
