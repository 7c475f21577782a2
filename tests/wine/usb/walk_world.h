// What the walk program walks: the system's own host controllers and hubs (walk_world_system.cpp,
// with the real Windows backend) or a simulated tree (walk_world_sim.cpp, with the simulated
// backend). The choice is made at link time.
#pragma once

// Prepares the world from the program's options. False, with a message on stderr, on bad usage.
bool BeginWalkWorld(int argc, char** argv);

// Called once the walk has ended. False, with a message on stderr, when what the world keeps of
// the walk can't be written.
bool EndWalkWorld();
