#pragma once
// The program's string table, ids 101 to 132, in UTF-8.

#include <string>
#include <vector>

namespace tbx {

// The text of a string id; the empty text for an id the table lacks.
std::string LoadString(int id);
// The text of a string id with "%1", "%2" ... replaced by values[0], values[1] ...
std::string FillString(int id, const std::vector<std::string>& values);

// Ids of our own messages, beyond the table's 101 to 132.
inline constexpr int kMsgPagePathNotFull = 201;
inline constexpr int kMsgPathNotWritable1251 = 202;
inline constexpr int kMsgProjectWriteFailed = 203;
inline constexpr int kMsgCompilerNotStarted = 204;
inline constexpr int kMsgCompilerFailed = 205;
inline constexpr int kMsgNoHelpFile = 206;
inline constexpr int kMsgCompileStopped = 207;
inline constexpr int kMsgHelpNotShown = 208;
inline constexpr int kMsgReasonNoViewer = 209;
inline constexpr int kMsgReasonViewerIsTomebox = 217;
inline constexpr int kMsgReasonHelpFileGone = 218;
inline constexpr int kMsgOtherSiteHelp = 219;
inline constexpr int kMsgViewerNotStarted = 210;
inline constexpr int kMsgViewerFailed = 211;
inline constexpr int kMsgFolderNotOpened = 212;
inline constexpr int kMsgDecompileStopped = 213;
inline constexpr int kMsgExtractWouldReplace = 214;
inline constexpr int kMsgReplaceQuestion = 215;
inline constexpr int kMsgNothingExtracted = 216;
inline constexpr int kMsgIndexNoFolder = 220;
inline constexpr int kMsgIndexWriteFailed = 221;
inline constexpr int kMsgIndexCssCopyFailed = 222;
inline constexpr int kMsgIndexUnwritten = 223;
inline constexpr int kMsgOptionsWriteFailed = 230;
inline constexpr int kMsgOptionTooLong = 231;
inline constexpr int kMsgProgressRead = 240;
inline constexpr int kMsgProgressCompressed = 241;
inline constexpr int kMsgProgressExtracted = 242;
inline constexpr int kMsgStartFileMissing = 250;
// What a finished build adds under message 111.
inline constexpr int kMsgBuiltFile = 243;
inline constexpr int kMsgBuiltCounts = 244;
inline constexpr int kMsgUnfollowedCount = 245;
inline constexpr int kMsgUnfollowedOnPage = 246;
inline constexpr int kMsgUnfollowedInProject = 247;
inline constexpr int kMsgUnfollowedMore = 248;
inline constexpr int kMsgMoreLines = 249;
// Why a link was not followed.
inline constexpr int kMsgReasonOutsideRoot = 260;
inline constexpr int kMsgReasonLinkOutsideRoot = 261;
inline constexpr int kMsgReasonNotAFile = 262;
inline constexpr int kMsgReasonMissing = 263;
inline constexpr int kMsgReasonUnreadable = 264;
inline constexpr int kMsgReasonNameClash = 265;
inline constexpr int kMsgReasonHelpFile = 266;
inline constexpr int kMsgReasonDrivePath = 267;
inline constexpr int kMsgReasonReservedName = 268;
inline constexpr int kMsgReasonBackslash = 269;
inline constexpr int kMsgReasonTooLong = 270;
inline constexpr int kMsgReasonUnenterable = 271;
// The help viewer's window: tabs, buttons and messages.
inline constexpr int kStrViewerContents = 300;
inline constexpr int kStrViewerIndex = 301;
inline constexpr int kStrViewerSearch = 302;
inline constexpr int kStrViewerFavorites = 303;
inline constexpr int kStrViewerHide = 304;
inline constexpr int kStrViewerShow = 305;
inline constexpr int kStrViewerBack = 306;
inline constexpr int kStrViewerForward = 307;
inline constexpr int kStrViewerHome = 308;
inline constexpr int kStrViewerPrint = 309;
inline constexpr int kStrViewerListTopics = 310;
inline constexpr int kStrViewerDisplay = 311;
inline constexpr int kStrViewerKeywordLabel = 312;
inline constexpr int kStrViewerSearchLabel = 313;
inline constexpr int kStrViewerTitleColumn = 314;
inline constexpr int kStrViewerRankColumn = 315;
inline constexpr int kStrViewerTopicsFound = 316;
inline constexpr int kStrViewerChooseTopic = 317;
inline constexpr int kStrViewerAddFavorite = 318;
inline constexpr int kStrViewerRemoveFavorite = 319;
inline constexpr int kMsgViewerNotOpened = 320;
inline constexpr int kMsgViewerPartlyRead = 321;
inline constexpr int kMsgViewerNoContents = 322;
inline constexpr int kMsgViewerNoKeywords = 323;
inline constexpr int kMsgViewerNoSearchIndex = 324;
inline constexpr int kMsgViewerNothingFound = 325;
inline constexpr int kMsgViewerNoWords = 326;
inline constexpr int kMsgViewerSearchDamaged = 327;
inline constexpr int kMsgViewerPageMissing = 328;
inline constexpr int kMsgViewerLinkNotOpened = 329;
inline constexpr int kMsgViewerOtherFileMissing = 330;
inline constexpr int kMsgViewerOpening = 331;
inline constexpr int kMsgViewerNoPages = 332;
inline constexpr int kMsgViewerPartSystem = 333;
inline constexpr int kMsgViewerPartWindows = 334;
inline constexpr int kMsgViewerPartStrings = 335;
inline constexpr int kMsgViewerPartTopics = 336;
inline constexpr int kMsgViewerPartSearch = 337;
inline constexpr int kMsgViewerPartDirectory = 338;
inline constexpr int kMsgViewerPartSitemap = 339;
inline constexpr int kMsgViewerSearching = 340;

// The caption of every message box.
inline constexpr const char* kCaption = "Tomebox!";

} // namespace tbx
