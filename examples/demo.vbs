' Palavox.dll in action: the three methods of Palavox.PalavoxClass on a short
' Portuguese text, as an ASP page or a macro would call them.
'   regsvr32 Palavox.dll
'   cscript //nologo demo.vbs
' The file is plain ASCII because cscript reads scripts in the ANSI code page;
' the accented letters are built with Chr() (Windows-1252 codes).
Option Explicit

Dim aTil, cCedilha, aAgudo, eAgudo, oOrdinal
aTil = Chr(227)
cCedilha = Chr(231)
aAgudo = Chr(225)
eAgudo = Chr(233)
oOrdinal = Chr(186)

Dim palavox, texto, acentuado, resultado
Set palavox = CreateObject("Palavox.PalavoxClass")

texto = "Promo" & cCedilha & aTil & "o de ver" & aTil & "o: veja http://palavox.example/ofertas" & _
        " e HTTP://loja.example/sapatos|at" & eAgudo & " domingo."

WScript.Echo "TrataHTML(texto)  -- links become anchors, target ""_self"" by default"
WScript.Echo "  texto:     " & texto
WScript.Echo "  resultado: " & palavox.TrataHTML(texto)
WScript.Echo ""
WScript.Echo "TrataHTML(texto, ""_blank"")"
WScript.Echo "  resultado: " & palavox.TrataHTML(texto, "_blank")
WScript.Echo ""

WScript.Echo "FindString(texto, ""HTTP"")       = " & palavox.FindString(texto, "HTTP") & _
             "   (letter case ignored)"
WScript.Echo "FindString(texto, ""HTTP"", ""B"")  = " & palavox.FindString(texto, "HTTP", "B") & _
             "   (exact match)"
WScript.Echo "FindString(texto, ""xyz"")        = " & palavox.FindString(texto, "xyz")
WScript.Echo "FindString(texto, """")           = " & palavox.FindString(texto, "") & _
             "  (nothing to look for)"
On Error Resume Next
resultado = palavox.FindString("", "x")
WScript.Echo "FindString("""", ""x"")           -> error " & Err.Number & ": " & Err.Description & _
             " (from " & Err.Source & ")"
Err.Clear
On Error GoTo 0
WScript.Echo ""

acentuado = "A" & cCedilha & aTil & "o & Rea" & cCedilha & aTil & "o: S" & aTil & "o Paulo (SP), 1" & _
            oOrdinal & " lugar, " & aAgudo & "gua de coco R$ 5,00"
WScript.Echo "RemoverAcentuacao(texto)"
WScript.Echo "  texto:     " & acentuado
WScript.Echo "  resultado: " & palavox.RemoverAcentuacao(acentuado)
