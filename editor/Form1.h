#pragma once
#include "runtime/Forms.h"

#include "ui_Form1.h"

// The main window: finds the parameter file, shows its text for editing,
// saves it, writes the backup copy and reloads it.
class Form1 : public runtime::Form {
    Q_OBJECT
public:
    Form1();

    // The read shared by the load and the reload.
    void ReadDataFile();

    void CmdRipristina_Click();
    void CmdSalva_Click();
    void CmdBackUp_Click();
    void Label2_MouseMove();
    void Label3_MouseMove();
    void Command5_Click();
    void CmdEsci_Click();

    Ui::Form1 ui;

    // Used by ReadDataFile alone.
    QString CrLf;
    QString FilePath;
    QString LineText;
    QString AllText;
    qint16 FileNum = 0;

protected:
    void build() override;
    void Form_Load() override;
};
