// The program's help, as seen by the windows and dialogs that open it.
#pragma once

// Topics opened by context number from the Help menu and the dialogs' Help buttons.
enum : int {
    kHelpContextSales = 2,               // Help, Contacting Quorvik Sales
    kHelpContextSupport = 3,             // Help, Obtaining Technical Support
    kHelpContextUserProps = 5,           // the User Properties dialog
    kHelpContextUserList = 21,           // the User List dialog
    kHelpContextPreferences = 26,        // the Preferences dialog
    kHelpContextMailProfiles = 40,       // the Mail Profiles dialog
    kHelpContextProfileMailSystem = 41,  // the profile editor's pages, one topic each
    kHelpContextProfileSending = 42,     //
    kHelpContextProfileCalendars = 43,   //
    kHelpContextProfileAddressList = 44, //
    kHelpContextProfileOutOfOffice = 45, //
    kHelpContextEvents = 46              // the Events view
};

// Implemented by the desktop's help window; elsewhere (command line, headless, most tests) the
// silent one stands in, since nobody could read the pages.
class IHelp {
public:
    virtual ~IHelp() = default;
    virtual void ShowContents() = 0;
    // The search over every page.
    virtual void ShowSearch() = 0;
    // The page on how to use the help itself.
    virtual void ShowHowToUseHelp() = 0;
    // The topic with that context number; an unknown number shows the contents.
    virtual void ShowTopic(int contextId) = 0;
};

// The current help; never null (the silent one until another is installed).
IHelp& Help();
// Installs `help` (not owned; null restores the silent one). Returns the previous one.
IHelp* SetHelp(IHelp* help);
