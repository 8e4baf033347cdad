#pragma once

namespace kopiensieb {

// Windows, controls and the status bar are addressed by these numbers, unique program-wide.
inline constexpr int kMainWindow = 0;
inline constexpr int kToDeleteWindow = 1;
inline constexpr int kStatusBar = 1;
inline constexpr int kActivityField = 0;
inline constexpr int kDetailField = 1;

inline constexpr int kAddFolderButton = 0;
inline constexpr int kFilesLabel = 1;
inline constexpr int kFilesView = 2;
inline constexpr int kGroupsLabel = 3;
inline constexpr int kGroupsBox = 4;
inline constexpr int kMembersLabel = 5;
inline constexpr int kMembersBox = 6;
inline constexpr int kDeleteMarkedButton = 7;
inline constexpr int kResetButton = 8;
inline constexpr int kSameContentButton = 9;
inline constexpr int kDeleteOthersButton = 10;
inline constexpr int kDeleteByPatternButton = 11;
inline constexpr int kScanPatternField = 12;
inline constexpr int kSameNameButton = 13;
inline constexpr int kDeletePatternField = 14;
inline constexpr int kToDeleteButton = 15;
inline constexpr int kSearchProgressBar = 100;
inline constexpr int kFileProgressBar = 101;

inline constexpr int kToDeleteHint = 200;
inline constexpr int kToDeleteView = 201;
inline constexpr int kDeleteSelectedButton = 202;
inline constexpr int kDiscardSelectedButton = 203;
inline constexpr int kCloseToDeleteButton = 204;
inline constexpr int kSelectAllButton = 205;

}  // namespace kopiensieb
