#pragma once
#include "runtime/Forms.h"

#include "ui_Form2.h"

// The help window: a fixed help text, no code of its own.
class Form2 : public runtime::Form {
    Q_OBJECT
public:
    Form2();
    Ui::Form2 ui;

protected:
    void build() override;
};
