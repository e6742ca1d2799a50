#pragma once

#include <QComboBox>

// A combo box that says when its list is about to drop down, so the items can be filled anew.
class DropDownComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override
    {
        emit aboutToDropDown();
        QComboBox::showPopup();
    }

signals:
    void aboutToDropDown();
};
