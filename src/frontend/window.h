// The "Processor Test" window as both front ends build it: the control ids
// of its template and the texts the program puts into it. (The Windows
// resource script repeats the ids and the template's own texts, as resource
// scripts must; the resource test holds the two together.)
#pragma once

inline constexpr int kProgramNameId = 100;
inline constexpr int kNoticeId = 101;
inline constexpr int kVersionId = 102;
inline constexpr int kStatusId = 104;
inline constexpr int kRunTestId = 1;
inline constexpr int kQuitId = 2;

inline constexpr const char* kWindowTitle = "Processor Test";
inline constexpr const char* kRunTestText = "Run Test";
inline constexpr const char* kQuitText = "Quit";
inline constexpr const char* kScoreCaptionText = "Score:";
inline constexpr const char* kNotRunText = "Not Run";
inline constexpr const char* kRunningText = "Running...";
inline constexpr const char* kNoWaitCursorText = "Can't LoadCursor";

// The score as the status field shows it.
inline constexpr const char* kScoreFormat = "%.3g ";
