#pragma once
// The object names of the monitor window's controls, named for what each
// control means. These names are the widgets' object names and the keys of
// rconskelvar.ini and nothing more: logic goes through Settings' accessors
// and UiState's setters, the window and the tests use the names.

namespace skelvar::rcon::control {

// ---- Values kept in rconskelvar.ini ----------------------------------------

// Connection and periods.
inline constexpr char serverAddress[] = "txtSVR";
inline constexpr char serverPort[] = "txtPORT";
inline constexpr char rconPassword[] = "txtPWD";
inline constexpr char scanMinutes[] = "txtMin";
inline constexpr char patrolSeconds[] = "MinPolt";
inline constexpr char scanOnStart[] = "SoS";

// Logging and silent mode.
inline constexpr char logAlerts[] = "Logea";
inline constexpr char silent[] = "Silent";

// A ban made by hand from the Players list.
inline constexpr char handBanDays[] = "Text2";
inline constexpr char handBanForever[] = "Option1";
inline constexpr char handBanForDays[] = "Option2";

// The enable boxes of the nine detections (the first of each penalty row).
inline constexpr char detectNoFog[] = "Cheats_0";
inline constexpr char detectWhiteWalls[] = "Cheats_1";
inline constexpr char detectWallhack[] = "Cheats_2";
inline constexpr char detectThirdPerson[] = "Cheats_3";
inline constexpr char detectAimbot[] = "Cheats_4";
inline constexpr char detectGlowingSkins[] = "Cheats_5";
inline constexpr char detectModifiedBinaries[] = "Cheats_6";
inline constexpr char scanPrivateClients[] = "Check1";
inline constexpr char scanReservedSkins[] = "Check5";

// The other three controls of a penalty row are control-array members whose
// numbers differ from row to row: Settings::rowNames() gives them.
inline constexpr char penaltyWarningArray[] = "Option5";
inline constexpr char penaltyKickArray[] = "Option3";
inline constexpr char penaltyBanArray[] = "Option4";
inline constexpr char penaltyDaysArray[] = "Text3";

// Private clients and private mode.
inline constexpr char privateTag[] = "txtTAG";
inline constexpr char privatePassword[] = "txtPRP";

// Alert and notice templates.
inline constexpr char privateSlotAlert[] = "Alert1";
inline constexpr char publicSlotAlert[] = "Alert2";
inline constexpr char cheatAlert[] = "Alert3";
inline constexpr char reservedSkinAlert[] = "Alert4";
inline constexpr char connectionAlert[] = "Alert5";
inline constexpr char privateModeNotice[] = "Alert6";
inline constexpr char banNotice[] = "Alert7";
inline constexpr char pingKickNotice[] = "Text7";

// Escalation.
inline constexpr char kickAfterWarnings[] = "AcWarns";
inline constexpr char banAfterKicks[] = "AcKicks";

// Server-side checks of the patrol pass.
inline constexpr char warnOnConnection[] = "Check6";
inline constexpr char kickOnHighPing[] = "Check2";
inline constexpr char pingLimit[] = "Text5";
inline constexpr char pingScans[] = "Text6";
inline constexpr char spearheadCompatibility[] = "Check3";

// ---- Controls the logic shows state on ---------------------------------------

// Session buttons and the console.
inline constexpr char startButton[] = "Command1";
inline constexpr char exitButton[] = "Command2";
inline constexpr char stopButton[] = "Command13";
inline constexpr char consoleInput[] = "Text1";
inline constexpr char consoleHeld[] = "Text4";
inline constexpr char consoleOutput[] = "txtOutput";
inline constexpr char copyButton[] = "Command3";
inline constexpr char clearButton[] = "Command4";

// Engine status.
inline constexpr char serverStatus[] = "Label21";
inline constexpr char lastDataLine[] = "Label18";
inline constexpr char serverOs[] = "Label35";
inline constexpr char cheatsState[] = "Label23";
inline constexpr char modSkelvarState[] = "Label25";
inline constexpr char zovPlinketState[] = "Label26";
inline constexpr char notMonitoredPicture[] = "Picture1";
inline constexpr char windowsIcon[] = "Image2";
inline constexpr char linuxIcon[] = "Image5";
inline constexpr char cheatsEnabledIcon[] = "Image1_0";
inline constexpr char cheatsDisabledIcon[] = "Image1_1";
inline constexpr char modSkelvarStoppedIcon[] = "Image3_0";
inline constexpr char modSkelvarRunningIcon[] = "Image3_1";
inline constexpr char zovPlinketStoppedIcon[] = "Image4_0";
inline constexpr char zovPlinketRunningIcon[] = "Image4_1";
inline constexpr char scanProgress[] = "scanpro";
inline constexpr char patrolProgress[] = "kickpro";

// Hand-made penalties on the Players list.
inline constexpr char kickPlayerButton[] = "Command5";
inline constexpr char banPlayerButton[] = "Command6";

// The record lists' row buttons.
inline constexpr char removeBanButton[] = "Command7";
inline constexpr char banSubrankButton[] = "Command8";
inline constexpr char banProviderButton[] = "Command9";
inline constexpr char removeKickButton[] = "Command10";
inline constexpr char removeWarningButton[] = "Command11";
inline constexpr char warningToBanButton[] = "Command14";
inline constexpr char kickToBanButton[] = "Command15";

// Labels that go with a detection's enable box.
inline constexpr char banAfterKicksLabel[] = "Label16";
inline constexpr char reservedSkinsEditLabel[] = "Label17";

// ---- The window's own controls ------------------------------------------------

inline constexpr char window[] = "Form1";
inline constexpr char tabStrip[] = "TabStrip1";
inline constexpr char tabPageArray[] = "Solapa";
inline constexpr char penaltyFrameArray[] = "Frame3";
inline constexpr char makePrivateButton[] = "Command12";
inline constexpr char suspiciousSkinsEditLabel[] = "Label11";
inline constexpr char viewLogLabel[] = "Label12";
inline constexpr char deleteLogLabel[] = "Label13";
inline constexpr char kickAfterWarningsLabel[] = "Label9";
inline constexpr char pingLimitLabel[] = "Label36";
inline constexpr char playersList[] = "Players";
inline constexpr char warningsList[] = "Warnings";
inline constexpr char kicksList[] = "Kicks";
inline constexpr char bansList[] = "Bans";

// ---- Timers --------------------------------------------------------------------

inline constexpr char rconTimer[] = "Timer2";
inline constexpr char engineTimer[] = "Timer3";
inline constexpr char countdownTimer[] = "Timer4";

} // namespace skelvar::rcon::control
