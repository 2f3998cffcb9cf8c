// Services of the real platform layer that need no window toolkit: the SDL
// sound buffer, hidapi devices, URL opening, the locale, the counter, the
// debugger output and the executable's own resources. Used by the real
// backend only.
#pragma once

#include "platform/PLAT.h"

#include <cstdint>
#include <string>
#include <vector>

PLAT_SoundBuffer *PLAT_iSoundCreate(const PLAT_SoundFormat &format, uint32_t bytes);
void PLAT_iSoundDelete(PLAT_SoundBuffer *buffer);
bool PLAT_iSoundPlay(PLAT_SoundBuffer *buffer);
bool PLAT_iSoundStop(PLAT_SoundBuffer *buffer);
// The play cursor: the byte where the last callback's take began, moved on
// by the frames that elapsed counter ticks stand for at rate (never more
// than that take), modulo the ring size.
uint32_t PLAT_iSoundPlayCursor(uint32_t lastStart, uint32_t lastBytes, uint64_t elapsed, uint64_t frequency,
                               uint32_t rate, uint32_t frameBytes, uint32_t size);
bool PLAT_iSoundPosition(PLAT_SoundBuffer *buffer, uint32_t *play, uint32_t *write);
bool PLAT_iSoundLock(PLAT_SoundBuffer *buffer, uint32_t offset, uint32_t bytes, void **part1, uint32_t *bytes1,
                     void **part2, uint32_t *bytes2);
bool PLAT_iSoundUnlock(PLAT_SoundBuffer *buffer);

int32_t PLAT_iHidList(PLAT_HidInfo *out, int32_t max);
uint32_t PLAT_iHidRegister(const PLAT_HidInfo &device);
bool PLAT_iHidName(uint32_t handle, char *name, uint32_t size);
int32_t PLAT_iHidWrite(const char *name, const uint8_t *bytes, uint32_t length);
// Reads what the registered devices have sent since the last call: one
// raw-input record (PLAT_RawInputHeader + report) per report.
void PLAT_iHidPoll(std::vector<std::vector<uint8_t>> *records);
void PLAT_iHidShutdown();

// Starts the desktop's opener on the text with an argument vector (no
// shell) and waits for it; false when it could not be started.
bool PLAT_iSpawnOpener(const char *text);
// ISO 639 code of the locale environment (LC_ALL, LC_MESSAGES, LANG);
// "en" for the C and POSIX locales.
bool PLAT_iLocaleLanguage(char *out, uint32_t size);
int64_t PLAT_iCounter();
int64_t PLAT_iFrequency();
// Reads the package appended to the file at path (empty when there is none).
bool PLAT_iReadAppended(const char *path, std::vector<uint8_t> *out);
