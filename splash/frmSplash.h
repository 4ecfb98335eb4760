#pragma once
#include "runtime/Forms.h"

#include "ui_frmSplash.h"

// The start-up window: shows the program's version and title, hands over to
// the main window when the pointer moves over its picture or one of four of
// its labels, and ends the program on a key press or a click on its frame.
class frmSplash : public runtime::Form {
    Q_OBJECT
public:
    frmSplash();

    void Form_KeyPress();
    void Frame1_Click();
    void lblCompanyProduct_MouseMove();
    void lblPlatform_MouseMove();
    void lblProductName_MouseMove();
    void lblWarning_MouseMove();
    void Picture1_MouseMove();

    Ui::frmSplash ui;

protected:
    void build() override;
    void Form_Load() override;

private:
    void handOver();
};
