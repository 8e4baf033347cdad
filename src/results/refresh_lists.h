#pragma once

#include <cstdint>
#include <string>

#include "shell/program.h"

namespace kopiensieb {

inline constexpr std::int32_t kRefreshFiles = 1;
inline constexpr std::int32_t kRefreshGroups = 2;
inline constexpr std::int32_t kRefreshMembers = 4;
inline constexpr std::int32_t kRefreshToDelete = 8;

// Rebuilds the result controls named by the flags (0: the reset form).
void RefreshLists(Program& program, std::int32_t flags);

// "Alle Dateien (N)".
std::string CatalogueCaption(std::int64_t records);

// "Dateien mit gleichem Inhalt (G - M)": G groups holding M members in all.
std::string GroupsCaption(std::int64_t groups, std::int64_t members);

// True when LowerCase of the text after the last dot of the name is "bak".
bool IsBackupCopyName(const std::string& name);

}  // namespace kopiensieb
