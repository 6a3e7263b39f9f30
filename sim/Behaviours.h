// Behaviour tables of the simulated device models: which sentence gets which
// reply. This is the place to teach the simulator the device's sentences;
// see DeviceSimulator.h for how a behaviour is written.
#pragma once

#include <string>

namespace sim {

class DeviceSimulator;

// Installs the behaviours of the named model. Every name is taken; a model
// without a table of its own answers nothing, like a device that is off.
void InstallModelBehaviours(DeviceSimulator& sim, const std::string& model);

}  // namespace sim
