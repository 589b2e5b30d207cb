' A careless VBScript caller: values without a text form, the wrong number of
' arguments, arguments by name that do not exist. Each call must raise the
' script error that names the problem, and the object must keep working.
'   cscript //nologo hostile.vbs
Option Explicit
WScript.Echo "started"

Dim passed, failed
passed = 0
failed = 0

Sub Check(ok, what)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Dim o, other, dict, arr, number, description, r
Set o = CreateObject("Palavox.PalavoxClass")
Set other = CreateObject("Palavox.PalavoxClass")
Set dict = CreateObject("Scripting.Dictionary")
arr = Array("a", "b")

' Makes call number `which` of the list below and records the error it raised.
' (Select Case, not Execute: the Wine script engine lacks Execute.)
Dim calls
calls = Array( _
    "o.RemoverAcentuacao(Null)", "o.TrataHTML(""x"", Null)", "o.FindString(""a"", Null)", _
    "o.FindString(""a"", ""a"", Null)", "o.RemoverAcentuacao(arr)", "o.TrataHTML(arr)", _
    "o.RemoverAcentuacao(other)", "o.FindString(dict, ""a"")", _
    "o.RemoverAcentuacao()", "o.RemoverAcentuacao(""a"", ""b"")", "o.TrataHTML(""a"", ""b"", ""c"")", _
    "o.FindString(""a"")", "o.FindString(""a"", ""b"", ""c"", ""d"")")
Const kFirstCount = 8   ' calls from here on have the wrong number of arguments

Sub Attempt(which)
    On Error Resume Next
    Err.Clear
    r = "untouched"
    Select Case which
        Case 0: r = o.RemoverAcentuacao(Null)
        Case 1: r = o.TrataHTML("x", Null)
        Case 2: r = o.FindString("a", Null)
        Case 3: r = o.FindString("a", "a", Null)
        Case 4: r = o.RemoverAcentuacao(arr)
        Case 5: r = o.TrataHTML(arr)
        Case 6: r = o.RemoverAcentuacao(other)
        Case 7: r = o.FindString(dict, "a")
        Case 8: r = o.RemoverAcentuacao()
        Case 9: r = o.RemoverAcentuacao("a", "b")
        Case 10: r = o.TrataHTML("a", "b", "c")
        Case 11: r = o.FindString("a")
        Case 12: r = o.FindString("a", "b", "c", "d")
    End Select
    number = Err.Number
    description = Err.Description
    Err.Clear
End Sub

' Error 13, type mismatch, for values the platform cannot turn into text;
' error 450 for the wrong number of arguments.
Dim i, expected
For i = 0 To UBound(calls)
    Attempt i
    If i < kFirstCount Then expected = 13 Else expected = 450
    Check number = expected And r = "untouched", _
        calls(i) & " raised " & number & " """ & description & """, expected " & expected
    If expected = 13 Then Check description = "Type mismatch", calls(i) & " described as " & description
    Check o.FindString("aAa", "a") = 3, "the object works after " & calls(i)
Next

' Values that do have a text form get it.
Check o.TrataHTML(42) = "42", "a number as text: " & o.TrataHTML(42)
Check o.FindString(1231, 1) = 2, "numbers on both sides"
Check o.TrataHTML(True) = CStr(CInt(True)), "a Boolean as text: " & o.TrataHTML(True)
Check o.TrataHTML(Empty) = "", "Empty as text"

WScript.Echo passed & " passed, " & failed & " failed"
