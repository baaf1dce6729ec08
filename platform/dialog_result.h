#pragma once

// What a modal dialog answers, passed to QDialog::done() and returned by exec(). The numbers
// are the ones every dialog of the program has always used, so they stay as they are.
enum class DialogResult : int {
    Ok = 1,
    Cancel = 2,
    Yes = 6,
    No = 7,
    NoToAll = 9,
    YesToAll = 10,
};

constexpr int ToDialogCode(DialogResult result)
{
    return static_cast<int>(result);
}
