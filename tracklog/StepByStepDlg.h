// "Transform to File": asked before a log upload where its results go. The
// upload worker shows it modally through ShowFromWorker, which runs the
// dialog on the UI thread while the worker waits, and takes the choices
// record over when the user leaves it with OK.
//
// The folder browser and the Save As choosers go through platform::Ui(), so
// tests answer them from a script.
#pragma once

#include <atomic>

#include "platform/Dialog.h"
#include "support/StdioFileEx.h"
#include "tracklog/TransformChoices.h"

class CStepByStepDlg : public platform::Dialog, public TransformChoices {
public:
    CStepByStepDlg();

    bool OnInitDialog() override;
    void OnOK() override;

    void LoadCaptions();
    void OnButtonBrowseTrackLogFolder();
    void OnButtonBrowsePhotoFolder();
    void OnButtonBrowseText();
    void OnButtonBrowseKml();
    void OnCheckTextFile();
    void OnCheckKmlFile();
    void OnCheckCombineJpg();
    void OnCheckWriteTotal();

    // Runs the dialog modally on the UI thread (from any thread; a worker
    // waits until the user has left it). On OK the choices go to `choices`,
    // with the outputs it opened; returns the dialog's result. A worker stops
    // waiting (Cancel) once *abandon is set; the dialog then ends by itself.
    static int ShowFromWorker(TransformChoices& choices, const std::atomic<bool>* abandon = nullptr);

    // A Unicode text file that the dialog never opens.
    CStdioFileEx unicodeKmlFile;

private:
    // Shows a chosen path in its static (the whole of it also as tool tip).
    void ShowPath(int id, const std::string& path);
};
