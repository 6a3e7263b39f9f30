#include "sim/Behaviours.h"

#include "sim/DeviceSimulator.h"

namespace sim {

void InstallModelBehaviours(DeviceSimulator& sim, const std::string& model) {
    // No model answers yet: add each model's replies here, keyed by sentence
    // tag, for example
    //     sim.SetBehaviour("PQVR810", [](const Sentence&, SimContext& ctx) {
    //         return Replies{Reply::Sentence("PQVR852," + ctx.model)};
    //     });
    (void)sim;
    (void)model;
}

}  // namespace sim
