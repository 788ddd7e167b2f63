// Stands in for SteamVR's vrserver.exe in the setup program's tests: a
// process of that name that touches READY_FILE once running, then idles for
// SECONDS (the test ends it sooner).
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ofstream(argv[1]) << "running\n";
  std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
  return 0;
}
