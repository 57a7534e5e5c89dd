// Every text that the run shows, once. Code page 932 after compilation, on
// every system: they are turned into UTF-16 from that code page to be shown.
#ifndef ZORVIK_MESSAGES_H
#define ZORVIK_MESSAGES_H

#define MESSAGE_CODE_PAGE 932

#define MSG_DEFAULT_TITLE       "Message"
#define MSG_DRIVE_INVALID       "%sドライブは無効です。"
#define MSG_DISK_FULL           "%sドライブはディスク容量が足りません(空き%dbytes)。"
#define MSG_DISK_LOW_ASK        "%sドライブはディスク容量が足りません(空き%dbytes)。よろしいですか？"
#define MSG_FOLDER_DENIED       "%sフォルダが作成できません。"
#define MSG_FOLDER_MISSING_ASK  "%sフォルダはありません。作成しますか？"
#define MSG_FOLDER_NOT_CREATED  "%sフォルダが作成できませんでした。"
#define MSG_FOLDER_TOO_LONG     "%sフォルダのパスが長すぎます。"
#define MSG_PROGRESS            "インストール中．．．%d%%"
#define MSG_CANNOT_START        "%sが起動できません。"
#define MSG_NO_RESOURCE         "Internal error in OnStart():FindResource(%d,%d)."
#define MSG_NO_LOAD             "Internal error in OnStart():LoadResource()."
#define MSG_NO_LOCK             "Internal error in OnStart():LockResource()."
#define MSG_TEMP_NOT_CREATED    "一時ファイル%sが作成できませんでした。"
#define MSG_TEMP_NOT_READ       "一時ファイル%sが読み込めませんでした。"
#define MSG_NOT_WRITTEN         "%sが書き込めませんでした。"
#define MSG_NOT_INSTALLED       "%sがインストールませんでした。"
#define MSG_DAMAGED             "インストーラが壊れています。もう一度入手してください。"
#define MSG_SYSTEM_FOLDER       "%sにはインストールできません。"
#define MSG_FOREIGN_FILES_ASK   "%sフォルダには同じ名前のファイルがあります。置き換えてインストールしますか？"
#define MSG_FOLDER_IS_LINK      "%sは別の場所へのリンクです。インストールできません。"
#define MSG_UNUSABLE_NAME       "このフォルダの名前には使えない文字が含まれています。"
#define MSG_BROWSE_TITLE        "フォルダの選択"
#define MSG_PROGRAM_RUNNING_ASK "%sが実行中です。終了してインストールを続けますか？"
#define MSG_PROGRAM_NOT_CLOSED  "%sを終了できませんでした。終了してから、もう一度「インストール開始」をクリックしてください。"
#define MSG_FILE_IN_USE         "%sは他のプログラムが使用中です。そのプログラムを終了してから、もう一度「インストール開始」をクリックしてください。"

// Large enough for the longest text above with a 259-byte path and a number.
#define MESSAGE_SIZE 512

// The command line: a quoted path of up to 259 bytes, a space and the arguments.
#define COMMAND_LINE_SIZE (2 * MAX_PATH + 4)

#endif
