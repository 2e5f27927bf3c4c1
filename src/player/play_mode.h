// The two feeders' play mode words, their stop requests and the speed they
// share, with the "PLAYMODE" named lock that every write of them holds. Reads
// are plain atomic loads.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace virazav::player {

// Values of a PlayMode word.
inline constexpr int32_t kModeStop = 0;
inline constexpr int32_t kModePlay = 1;
inline constexpr int32_t kModeForward = 2;
inline constexpr int32_t kModeBack = 3;
inline constexpr int32_t kModeOneForward = 4;
inline constexpr int32_t kModeOneBack = 5;

// The named lock "PLAYMODE", shared with every process that loads the library.
// Created on first use; the library touches it at load.
platform::NamedMutex& playmode_mutex();

// The disk feeder's mode. set_disk_mode writes it while holding "PLAYMODE" (and
// waits for the lock without a time limit).
int32_t disk_mode();
void set_disk_mode(int32_t mode);

// The speed shared by the feeders; written under "PLAYMODE" together with the
// mode by the forward and back controls.
int32_t play_speed();
void set_mode_and_speed(std::atomic<int32_t>* mode_word, int32_t mode, int32_t speed);

// The disk feeder's word itself, for set_mode_and_speed and the feeder that polls it.
std::atomic<int32_t>& disk_mode_word();

// The file feeder's mode, written like the disk feeder's.
int32_t file_mode();
void set_file_mode(int32_t mode);
std::atomic<int32_t>& file_mode_word();

// A play control: sets *mode_word to mode, and with forward and back also the
// speed, in one write under "PLAYMODE". Returns 0.
int set_play_control(std::atomic<int32_t>* mode_word, int32_t mode, int32_t speed);

// Writes any other word the lock guards (the feeders' stop requests) while
// holding "PLAYMODE".
void store_under_playmode(std::atomic<int32_t>* word, int32_t value);

}  // namespace virazav::player
