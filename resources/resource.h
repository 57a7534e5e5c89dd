// Resource and control identifiers, shared by the resource scripts and the code.
#ifndef ZORVIK_RESOURCE_H
#define ZORVIK_RESOURCE_H

#define IDI_APP             101
#define IDD_INSTALLER       102

#define IDC_FOLDER          1000
#define IDC_ADD_STARTMENU   1001
#define IDC_ADD_DESKTOP     1002
#define IDC_BROWSE          1003
#define IDC_FOLDER_LABEL    1005
#define IDC_SHORTCUT_LABEL  1006
#define IDC_SPACE_LABEL     1007
#define IDC_PROGRESS        1008
#define IDC_DESCRIPTION     1009

// The input controls that the progress label replaces while installing, in
// the order they are switched.
#define IDC_INPUT_CONTROLS  IDC_FOLDER_LABEL, IDC_FOLDER, IDC_BROWSE, \
                            IDC_SHORTCUT_LABEL, IDC_ADD_STARTMENU, IDC_ADD_DESKTOP

#endif
