// The stored properties of the visual classes, in the property table (TypInfo.h), so that the
// property storage can write and read them by name.
#include "classlib/forms/ControlProps.h"

#include <mutex>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/ComCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/TypInfo.h"

namespace cl {
namespace {

template <class C>
TPropInfo IntProp(const char* name, int (C::*get)() const, void (C::*set)(int)) {
  return {
      .Name = name,
      .Kind = tkInteger,
      .Get = [get](TObject* o) { return Variant((static_cast<C*>(o)->*get)()); },
      .Set = [set](TObject* o, const Variant& v) { (static_cast<C*>(o)->*set)(v.AsInteger()); }};
}

template <class C>
TPropInfo BoolProp(const char* name, bool (C::*get)() const, void (C::*set)(bool)) {
  const static TEnumInfo kBoolean{{"False", "True"}};
  return {.Name = name,
          .Kind = tkEnumeration,
          .Enum = &kBoolean,
          .Get = [get](TObject* o) { return Variant((static_cast<C*>(o)->*get)() ? 1 : 0); },
          .Set = [set](TObject* o,
                       const Variant& v) { (static_cast<C*>(o)->*set)(v.AsInteger() != 0); }};
}

template <class C>
TPropInfo StringProp(const char* name, const std::string& (C::*get)() const,
                     void (C::*set)(const std::string&)) {
  return {.Name = name,
          .Kind = tkLString,
          .Get = [get](TObject* o) { return Variant((static_cast<C*>(o)->*get)()); },
          .Set = [set](TObject* o, const Variant& v) { (static_cast<C*>(o)->*set)(v.AsString()); }};
}

template <class C, class E>
TPropInfo EnumProp(const char* name, const TEnumInfo* info, E (C::*get)() const,
                   void (C::*set)(E)) {
  return {
      .Name = name,
      .Kind = tkEnumeration,
      .Enum = info,
      .Get = [get](TObject* o) { return Variant(static_cast<int>((static_cast<C*>(o)->*get)())); },
      .Set = [set](
                 TObject* o,
                 const Variant& v) { (static_cast<C*>(o)->*set)(static_cast<E>(v.AsInteger())); }};
}

// clang-format off
const TEnumInfo kAlign{{"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"}};
const TEnumInfo kAlignment{{"taLeftJustify", "taRightJustify", "taCenter"}};
const TEnumInfo kBevel{{"bvNone", "bvLowered", "bvRaised"}};
const TEnumInfo kBorderStyle{{"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow"}};
const TEnumInfo kPosition{{"poDesigned", "poDefault", "poScreenCenter"}};
const TEnumInfo kFormStyle{{"fsNormal", "fsStayOnTop"}};
const TEnumInfo kComboStyle{{"csDropDown", "csSimple", "csDropDownList"}};
// clang-format on

void RegisterAll() {
  RegisterProps<TControl>({
      IntProp<TControl>("Left", &TControl::Left, &TControl::SetLeft),
      IntProp<TControl>("Top", &TControl::Top, &TControl::SetTop),
      IntProp<TControl>("Width", &TControl::Width, &TControl::SetWidth),
      IntProp<TControl>("Height", &TControl::Height, &TControl::SetHeight),
      EnumProp<TControl, TAlign>("Align", &kAlign, &TControl::Align, &TControl::SetAlign),
      BoolProp<TControl>("Visible", &TControl::Visible, &TControl::SetVisible),
      BoolProp<TControl>("Enabled", &TControl::Enabled, &TControl::SetEnabled),
      IntProp<TControl>("Color", &TControl::Color, &TControl::SetColor),
      IntProp<TControl>("Cursor", &TControl::Cursor, &TControl::SetCursor),
      StringProp<TControl>("Hint", &TControl::Hint, &TControl::SetHint),
      BoolProp<TControl>("ShowHint", &TControl::ShowHint, &TControl::SetShowHint),
  });
  RegisterProps<TWinControl, TControl>({
      IntProp<TWinControl>("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder),
      BoolProp<TWinControl>("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop),
  });
  RegisterProps<TForm, TWinControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
      EnumProp<TForm, TFormBorderStyle>("BorderStyle", &kBorderStyle, &TForm::BorderStyle,
                                        &TForm::SetBorderStyle),
      EnumProp<TForm, TPosition>("Position", &kPosition, &TForm::Position, &TForm::SetPosition),
      EnumProp<TForm, TFormStyle>("FormStyle", &kFormStyle, &TForm::FormStyle,
                                  &TForm::SetFormStyle),
      BoolProp<TForm>("KeyPreview", &TForm::KeyPreview, &TForm::SetKeyPreview),
      IntProp<TForm>("HelpContext", &TForm::HelpContext, &TForm::SetHelpContext),
      IntProp<TForm>("PixelsPerInch", &TForm::PixelsPerInch, &TForm::SetPixelsPerInch),
  });
  RegisterProps<TPanel, TWinControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
      EnumProp<TPanel, TPanelBevel>("BevelInner", &kBevel, &TPanel::BevelInner,
                                    &TPanel::SetBevelInner),
      EnumProp<TPanel, TPanelBevel>("BevelOuter", &kBevel, &TPanel::BevelOuter,
                                    &TPanel::SetBevelOuter),
      IntProp<TPanel>("BevelWidth", &TPanel::BevelWidth, &TPanel::SetBevelWidth),
      EnumProp<TPanel, TAlignment>("Alignment", &kAlignment, &TPanel::Alignment,
                                   &TPanel::SetAlignment),
  });
  RegisterProps<TButton, TWinControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
      IntProp<TButton>("ModalResult", &TButton::ModalResult, &TButton::SetModalResult),
      BoolProp<TButton>("Default", &TButton::Default, &TButton::SetDefault),
      BoolProp<TButton>("Cancel", &TButton::Cancel, &TButton::SetCancel),
  });
  RegisterProps<TLabel, TControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
      BoolProp<TLabel>("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap),
      BoolProp<TLabel>("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize),
      EnumProp<TLabel, TAlignment>("Alignment", &kAlignment, &TLabel::Alignment,
                                   &TLabel::SetAlignment),
  });
  RegisterProps<TComboBox, TWinControl>({
      EnumProp<TComboBox, TComboBoxStyle>("Style", &kComboStyle, &TComboBox::Style,
                                          &TComboBox::SetStyle),
      IntProp<TComboBox>("ItemIndex", &TComboBox::ItemIndex, &TComboBox::SetItemIndex),
      BoolProp<TComboBox>("Sorted", &TComboBox::Sorted, &TComboBox::SetSorted),
      IntProp<TComboBox>("DropDownCount", &TComboBox::DropDownCount, &TComboBox::SetDropDownCount),
  });
  RegisterProps<TGroupBox, TWinControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
  });
  RegisterProps<TSplitter, TWinControl>({
      IntProp<TSplitter>("MinSize", &TSplitter::MinSize, &TSplitter::SetMinSize),
  });
  RegisterProps<TTabSheet, TWinControl>({
      StringProp<TControl>("Caption", &TControl::Caption, &TControl::SetCaption),
  });
}

}  // namespace

void RegisterControlProperties() {
  static std::once_flag once;
  std::call_once(once, RegisterAll);
}

}  // namespace cl
