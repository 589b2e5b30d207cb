' VBScript client of Palavox.dll: late-bound, the way ASP pages and macros call it.
'   cscript //nologo client.vbs <case file>
' Kept to ASCII: cscript reads a .vbs in the ANSI code page, so accents come from Chr().
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

' "=" overlooks a trailing NUL; equal lengths plus a binary InStr at 1 do not.
Function Same(a, b)
    Same = False
    If Len(a) <> Len(b) Then Exit Function
    If Len(a) = 0 Then
        Same = True
    Else
        Same = (InStr(1, a, b, vbBinaryCompare) = 1)
    End If
End Function

Function Anchor(link, target)
    Anchor = "<a href=""" & link & """ target=""" & target & """>" & link & "</a>"
End Function

Function Unescape(field)
    Dim out, start, slash
    out = ""
    start = 1
    Do
        slash = InStr(start, field, "\", vbBinaryCompare)
        If slash = 0 Then Exit Do
        out = out & Mid(field, start, slash - start)
        Select Case Mid(field, slash + 1, 1)
            Case "\": out = out & "\"
            Case "t": out = out & vbTab
            Case "n": out = out & vbLf
            Case "r": out = out & vbCr
            Case "0": out = out & Chr(0)
            Case Else: Err.Raise 5, , "bad escape"
        End Select
        start = slash + 2
    Loop
    Unescape = out & Mid(field, start)
End Function

' Calls one method by name; returns the error number (0 on success) and the result.
Function CallMethod(o, method, args, omitLast, result)
    On Error Resume Next
    Err.Clear
    Select Case method
        Case "TrataHTML"
            If omitLast Then result = o.TrataHTML(args(0)) Else result = o.TrataHTML(args(0), args(1))
        Case "FindString"
            If omitLast Then
                result = o.FindString(args(0), args(1))
            Else
                result = o.FindString(args(0), args(1), args(2))
            End If
        Case "RemoverAcentuacao"
            result = o.RemoverAcentuacao(args(0))
    End Select
    CallMethod = Err.Number
    Err.Clear
End Function

Sub RunCase(o, fields, lineNumber, omitLast)
    Dim method, args(2), i, arity, expected, result, number, what
    method = fields(0)
    arity = UBound(fields) - 1
    For i = 1 To arity
        args(i - 1) = Unescape(fields(i))
    Next
    expected = fields(arity + 1)
    what = "line " & lineNumber & " " & method
    If omitLast Then what = what & " [optional omitted]"
    result = Empty
    number = CallMethod(o, method, args, omitLast, result)
    ' Any method may expect an error: "error" and its number, the whole field.
    If Left(expected, 6) = "error " And IsNumeric(Mid(expected, 7)) Then
        Check number = CLng(Mid(expected, 7)) And IsEmpty(result), what & " gave error " & number
    ElseIf method = "FindString" Then
        Check number = 0 And result = CLng(expected), what & " gave " & result & " (error " & number & ")"
    Else
        Check number = 0 And Same(result, Unescape(expected)), what & " (error " & number & ")"
    End If
End Sub

Sub RunCaseFile(o, path)
    Dim fso, all, lines, i, fields, count
    Set fso = CreateObject("Scripting.FileSystemObject")
    all = fso.OpenTextFile(path, 1, False, -1).ReadAll
    lines = Split(all, vbLf)
    count = 0
    For i = 0 To UBound(lines)
        If Len(lines(i)) > 0 And Left(lines(i), 1) <> "#" Then
            fields = Split(lines(i), vbTab)
            RunCase o, fields, i + 1, False
            ' An omitted optional argument must act as the empty text.
            If fields(0) <> "RemoverAcentuacao" And Len(fields(UBound(fields) - 1)) = 0 Then
                RunCase o, fields, i + 1, True
            End If
            count = count + 1
        End If
    Next
    Check count >= 300, "case file holds " & count & " cases"
End Sub

Sub CheckFrame(o)
    Dim r, number, description, source, sao, acao
    sao = "S" & Chr(227) & "o Paulo (SP)"
    acao = "A" & Chr(231) & Chr(227) & "o & Rea" & Chr(231) & Chr(227) & "o"

    Check Same(o.TrataHTML("ver http://a/b fim"), "ver " & Anchor("http://a/b", "_self") & " fim"), _
        "TrataHTML without a target"
    Check Same(o.TrataHTML("ver http://a/b fim", "_blank"), "ver " & Anchor("http://a/b", "_blank") & " fim"), _
        "TrataHTML with _blank"
    Check Same(o.TrataHTML("x http://a", Empty), "x " & Anchor("http://a", "_self")), "TrataHTML with Empty target"
    Check Same(o.TrataHTML(Empty), ""), "TrataHTML(Empty)"
    Check Same(o.TrataHTML(""), ""), "TrataHTML("""")"
    Check o.FindString("Casa casa CASA", "casa") = 3, "FindString without vemTipo"
    Check o.FindString("Casa casa CASA", "casa", "B") = 1, "FindString binary"
    Check o.FindString("Casa casa CASA", Empty) = -1, "FindString(Empty search)"
    Check o.FindString(12312, 1) = 2, "numbers arrive as text"
    Check TypeName(o.FindString("a", "a")) = "Long", "FindString gives a Long"
    Check Same(o.RemoverAcentuacao(sao), "Sao Paulo  SP "), "RemoverAcentuacao Sao Paulo"
    Check Same(o.RemoverAcentuacao(acao), "Acao e Reacao"), "RemoverAcentuacao Acao"
    Check Same(o.RemoverAcentuacao(Empty), ""), "RemoverAcentuacao(Empty)"

    ' The caller's variables are passed by reference and must come back unchanged.
    r = sao
    o.RemoverAcentuacao r
    Check Same(r, "S" & Chr(227) & "o Paulo (SP)"), "argument left unchanged"

    ' Error 13 with its description; the failed call assigns nothing.
    On Error Resume Next
    r = "before"
    r = o.FindString("", "a")
    number = Err.Number
    description = Err.Description
    source = Err.Source
    Err.Clear
    On Error GoTo 0
    Check number = 13, "FindString("""", ""a"") raised " & number
    Check description = "Type mismatch", "description " & description
    Check source = "Palavox.PalavoxClass", "source " & source
    Check r = "before", "a failed call assigns nothing"
    Check o.FindString("aa", "a") = 2, "the object works after an error"

    On Error Resume Next
    r = o.FindString(Empty, Empty, Empty)
    number = Err.Number
    Err.Clear
    On Error GoTo 0
    Check number = 13, "FindString(Empty, Empty, Empty) raised " & number
End Sub

Dim o, other
Set o = CreateObject("Palavox.PalavoxClass")
Set other = CreateObject("Palavox.PalavoxClass")
Check Not (o Is other), "each CreateObject gives a new object"
CheckFrame o
If WScript.Arguments.Count > 0 Then
    RunCaseFile o, WScript.Arguments(0)
Else
    Check False, "no case file given"
End If
WScript.Echo passed & " passed, " & failed & " failed"
