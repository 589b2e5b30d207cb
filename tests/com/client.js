// JScript client of Palavox.dll: late-bound through cscript. Unlike VBScript it
// builds any code unit with String.fromCharCode, so it also probes texts that a
// .vbs file cannot spell.
//   cscript //nologo client.js <case file>
WScript.Echo("started");
var passed = 0, failed = 0;
var TYPE_MISMATCH = 0x800A000D | 0;  // as JScript reports it: a negative number

function check(ok, what) {
    if (ok) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAIL: " + what);
    }
}

function u() {  // u(0x48, 0x54, ...) -> the text of those code units
    return String.fromCharCode.apply(null, arguments);
}

function escaped(s) {
    var out = "";
    for (var i = 0; i < s.length; i++) {
        var c = s.charCodeAt(i);
        out += c >= 0x20 && c < 0x7F && c != 0x5C ? s.charAt(i)
             : "\\u" + ("000" + c.toString(16).toUpperCase()).slice(-4);
    }
    return out;
}

function anchor(link, target) {
    return '<a href="' + link + '" target="' + target + '">' + link + "</a>";
}

function unescapeField(field) {
    return field.replace(/\\(.)/g, function (all, c) {
        var map = { "\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": u(0) };
        if (!(c in map)) throw new Error("bad escape " + c);
        return map[c];
    });
}

// Returns {error: number or 0, value: result}.
function invoke(o, method, args) {
    try {
        var value;
        if (method == "TrataHTML") {
            value = args.length == 1 ? o.TrataHTML(args[0]) : o.TrataHTML(args[0], args[1]);
        } else if (method == "FindString") {
            value = args.length == 2 ? o.FindString(args[0], args[1])
                                     : o.FindString(args[0], args[1], args[2]);
        } else {
            value = o.RemoverAcentuacao(args[0]);
        }
        return { error: 0, value: value };
    } catch (e) {
        return { error: e.number, value: undefined, description: e.description };
    }
}

function runCase(o, fields, line, omitLast) {
    var method = fields[0], args = [], expected = fields[fields.length - 1];
    for (var i = 1; i < fields.length - 1; i++) args.push(unescapeField(fields[i]));
    if (omitLast) args.pop();
    var what = "line " + line + " " + method + "(" + escaped(args.join("\u00B7")) + ")" +
               (omitLast ? " [optional omitted]" : "");
    var r = invoke(o, method, args);
    // Any method may expect an error: "error" and its number, the whole field.
    if (/^error \d+$/.test(expected)) {
        var n = parseInt(expected.substring(6), 10);
        check(r.error == (0x800A0000 | n), what + " gave error " + r.error);
    } else if (method != "FindString") {
        var want = unescapeField(expected);
        check(r.error == 0 && r.value === want,
              what + " gave " + (r.error ? "error " + r.error : escaped(String(r.value))));
    } else {
        check(r.error == 0 && r.value === parseInt(expected, 10),
              what + " gave " + r.value + " (error " + r.error + ")");
    }
}

function runCaseFile(o, path) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var stream = fso.OpenTextFile(path, 1, false, -1);
    var lines = stream.ReadAll().split("\n");
    stream.Close();
    var count = 0;
    for (var i = 0; i < lines.length; i++) {
        if (lines[i].length == 0 || lines[i].charAt(0) == "#") continue;
        var fields = lines[i].split("\t");
        runCase(o, fields, i + 1, false);
        if (fields[0] != "RemoverAcentuacao" && fields[fields.length - 2].length == 0) {
            runCase(o, fields, i + 1, true);
        }
        count++;
    }
    check(count >= 300, "case file holds " + count + " cases");
}

function checkFrame(o) {
    var acao = u(0x41, 0xE7, 0xE3) + "o & Rea" + u(0xE7, 0xE3) + "o";
    check(o.TrataHTML("veja http://a") === "veja " + anchor("http://a", "_self"), "TrataHTML, no target");
    check(o.TrataHTML("veja http://a", "_top") === "veja " + anchor("http://a", "_top"), "TrataHTML, _top");
    check(o.TrataHTML("veja http://a", undefined) === "veja " + anchor("http://a", "_self"),
          "undefined target is empty");
    check(o.TrataHTML("") === "", "TrataHTML of empty text");
    check(o.FindString("Casa casa CASA", "casa") === 3, "FindString without vemTipo");
    check(o.FindString("Casa casa CASA", "casa", "b") === 1, "FindString binary");
    check(o.FindString("abc", "") === -1, "empty search gives -1");
    check(typeof o.FindString("a", "a") == "number", "FindString gives a number");
    check(o.RemoverAcentuacao(acao) === "Acao e Reacao", "RemoverAcentuacao");

    // Texts VBScript cannot write: NUL, surrogates, letters beyond Latin-1.
    var deseret = u(0xD801, 0xDC00), deseretSmall = u(0xD801, 0xDC28);
    check(o.FindString(deseret + deseretSmall, deseretSmall) === 2, "a surrogate pair folds as one");
    check(o.FindString(deseret + deseretSmall, deseretSmall, "B") === 1, "binary keeps pairs apart");
    check(o.FindString(u(0x212A) + " k K", "k") === 3, "Kelvin sign matches k");
    check(o.FindString("a" + u(0) + "b" + u(0), u(0)) === 2, "NUL is an ordinary unit");
    check(o.RemoverAcentuacao(u(0, 0xD800, 0xE9)) === u(0, 0xD800, 0x65), "NUL and a lone half kept");
    check(o.TrataHTML("http://a" + u(0) + "b c") === anchor("http://a" + u(0) + "b", "_self") + " c",
          "NUL inside a link");

    var r = invoke(o, "FindString", ["", "a"]);
    check(r.error === TYPE_MISMATCH, "FindString on empty text raised " + r.error);
    check(r.description === "Type mismatch", "description " + r.description);
    check((r.error & 0xFFFF) === 13, "error number 13 in the low word");
    check(o.FindString("aa", "a") === 2, "usable after an error");
    r = invoke(o, "FindString", [undefined, "a"]);
    check(r.error === TYPE_MISMATCH, "undefined text raised " + r.error);
}

var o = new ActiveXObject("Palavox.PalavoxClass");
checkFrame(o);
if (WScript.Arguments.length > 0) {
    runCaseFile(o, WScript.Arguments(0));
} else {
    check(false, "no case file given");
}
WScript.Echo(passed + " passed, " + failed + " failed");
