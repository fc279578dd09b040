#pragma once

// Shared by the fuzz targets: a small valid field model whose members a target swaps
// for fuzzed bytes, built into an archive file and loaded, posed and drawn as the
// viewer would.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace palkor::fuzzing {

struct TModelMembers {
  std::string HRC, RSD, P, TEX, A;
};

// Members M.HRC (two bones on resource R), R.RSD (P.PLY, one texture T.TIM), P.P (a
// textured box and a plain one), T.TEX (4 x 4 palette image), M.A (three frames).
TModelMembers DefaultModel();

// Writes the members into an archive file of this process and builds the model from
// it in a small offscreen context; then poses every frame (up to 64) and draws it with
// bones and crosshairs. Errors with a message are expected and swallowed.
void ExerciseModel(const TModelMembers& members);

// A battle model's members by suffix: aa (three bones, two with parts), ab, ac (a
// texture), am and an (parts), da (two animations).
using TBattleMembers = std::vector<std::pair<std::string, std::string>>;
TBattleMembers DefaultBattle();

// Builds the battle model from the members in a small offscreen context, then draws
// every frame (up to 64) of every animation. Errors with a message are swallowed.
void ExerciseBattle(const TBattleMembers& members);

// The default field and battle models exported as glTF files (binary, and JSON), as
// another program would read them: the joints bear the models' bone names.
std::vector<std::string> DefaultGltfFiles();

// Reads bytes as a glTF file and imports each of its animations (up to 4, and up to 2,000
// frames) into the default field model's and battle model's animations. Errors with a
// message are expected and swallowed.
void ExerciseGltfImport(const std::string& bytes);

// Reads bytes as a glTF file and plans putting its mesh on the default field model and
// battle model (nothing is written). Errors with a message are expected and swallowed.
void ExerciseModelImport(const std::string& bytes);

// A file path of this process, in memory-backed /dev/shm.
std::string ScratchPath(const char* name);

// Makes the offscreen context current (created on first use).
void EnsureGL();

} // namespace palkor::fuzzing
