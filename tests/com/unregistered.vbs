' After regsvr32 /u: the ProgID is gone, so CreateObject fails with error 429
' ("ActiveX component can't create object").
'   cscript //nologo unregistered.vbs
Option Explicit
WScript.Echo "started"
Dim o, number, passed, failed
passed = 0
failed = 0
On Error Resume Next
Set o = CreateObject("Palavox.PalavoxClass")
number = Err.Number
Err.Clear
On Error GoTo 0
If number = 429 And IsEmpty(o) Then
    passed = passed + 1
Else
    failed = failed + 1
    WScript.Echo "FAIL: CreateObject after unregistering raised " & number
End If
WScript.Echo passed & " passed, " & failed & " failed"
