// palavox-record.js: records what the automation component registered on this
// machine answers for your texts, so that `palavox verify` can replay every
// call through Palavox and explain each difference (docs/migrating.md).
// Needs nothing but cscript: the registry through WScript.Shell, files through
// Scripting.FileSystemObject.
//
//   cscript //nologo palavox-record.js [/progid:ID] [/whole] [/find:WORD]...
//           /out:RECORDING FILE...
//
// FILE: UTF-8, with or without a byte-order mark, or UTF-16LE with one; one
// text per line (LF or CR LF ends a line) or, with /whole, each file one text.
// For each text: RemoverAcentuacao, TrataHTML without a target and with
// "_blank", FindString with each search word (the /find words, else up to 8
// words of the text and the empty search text), ignoring case and with "B".
// Exit status: 0 recorded, 1 failed (nothing is left at RECORDING), 2 usage.

var USAGE = "usage: cscript //nologo palavox-record.js [/progid:ID] [/whole] [/find:WORD]... " +
    "/out:RECORDING FILE...";
var MAX_WORDS = 8;
var CHUNK = 65536;

var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");

function Failure(message, status) {
    this.message = message;
    this.status = status;
}

// Standard error where the host has it (Wine's cscript has neither stream:
// there WScript.Echo, which cscript writes to standard output).
function tell(message, toError) {
    try {
        (toError ? WScript.StdErr : WScript.StdOut).WriteLine(message);
    } catch (e) {
        WScript.Echo(message);
    }
}

function fail(message) {
    throw new Failure(message, 1);
}

function described(e) {
    return "error " + errorNumber(e) + (e.description ? ", \"" + e.description + "\"" : "");
}

// The number Visual Basic would show for a failure: the low word of a
// FACILITY_CONTROL status, the usual numbers for four common statuses, and
// any other status as it is.
function errorNumber(e) {
    var n = e.number;
    var status = n < 0 ? n + 4294967296 : n;
    if (((status >>> 16) & 0x1FFF) == 0x0A) return status & 0xFFFF;
    switch (status) {
        case 0x8007000E: return 7;   // E_OUTOFMEMORY
        case 0x80020005: return 13;  // DISP_E_TYPEMISMATCH
        case 0x8002000A: return 6;   // DISP_E_OVERFLOW
        case 0x80070057: return 5;   // E_INVALIDARG
    }
    return n;
}

// ---- The recording: ASCII only, so it is the same bytes in every code page.

function hex4(n) {
    var h = n.toString(16).toUpperCase();
    return "0000".substr(h.length) + h;
}

// \\ \t \n \r \0, and \uXXXX for every other unit outside printable ASCII
// (lone surrogates included): exact to the code unit.
function esc(s) {
    return s.replace(/[^\x20-\x5B\x5D-\x7E]/g, function (c) {
        switch (c) {
            case "\\": return "\\\\";
            case "\t": return "\\t";
            case "\n": return "\\n";
            case "\r": return "\\r";
            case "\0": return "\\0";
        }
        return "\\u" + hex4(c.charCodeAt(0));
    });
}

// ---- Reading input exactly.

// FileSystemObject reads UTF-16LE as it is, and other files through the ANSI
// code page. Where that code page gives each byte a character of its own, the
// mapping is learnt once, from a file written with every byte value, and
// undone, so UTF-8 is decoded here from the bytes themselves.
var byteOf = null;     // character read -> byte, or null where that cannot be done
var firstOfBom = null; // how the byte 0xFF reads

function learnCodePage() {
    var path = fso.BuildPath(fso.GetSpecialFolder(2).Path, fso.GetTempName());
    var units = "";
    for (var b = 0; b < 256; b++) units += String.fromCharCode(b * 257);
    var stream = fso.CreateTextFile(path, true, true);  // FF FE, then each byte twice
    stream.Write(units);
    stream.Close();
    stream = fso.OpenTextFile(path, 1, false, 0);
    var read = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    fso.DeleteFile(path);
    firstOfBom = read.charAt(0);
    if (read.length != 2 + 512) return;
    var map = {};
    for (b = 0; b < 256; b++) {
        var c = read.charAt(2 + 2 * b);
        if (c != read.charAt(3 + 2 * b) || map.hasOwnProperty("k" + c)) return;
        map["k" + c] = b;
    }
    byteOf = map;
}

function openInput(path, index) {
    var input = { path: path, index: index };
    if (!fso.FileExists(path)) fail(path + ": no such file");
    var stream;
    try {
        stream = fso.OpenTextFile(path, 1, false, 0);
        var first = stream.AtEndOfStream ? "" : stream.Read(1);
        stream.Close();
    } catch (e) {
        fail(path + ": cannot be read (" + described(e) + ")");
    }
    // A UTF-8 file never starts with the byte 0xFF.
    input.encoding = first != "" && first == firstOfBom ? "utf-16le" : "utf-8";
    if (input.encoding == "utf-8" && byteOf == null) {
        fail(path + ": this machine's ANSI code page does not give each byte a character of its " +
             "own, so UTF-8 cannot be read exactly here: save the file as UTF-16LE (\"Unicode\")");
    }
    return input;
}

// Strict UTF-8, carried across chunks: gives the UTF-16 units of whole
// sequences and keeps the bytes of one cut short for the next chunk. A bad
// sequence is told by the offset of its first byte.
function Utf8Decoder(path) {
    this.path = path;
    this.offset = 0;     // bytes decoded so far
    this.pending = [];   // bytes of a sequence not yet whole
}

Utf8Decoder.prototype.bad = function (at) {
    fail(this.path + ": not valid UTF-8 at byte offset " + at);
};

Utf8Decoder.prototype.decode = function (chars, last) {
    var out = [];
    var i = 0;
    var bytes = this.pending;
    while (i < chars.length || bytes.length > 0) {
        if (bytes.length == 0) {
            var rest = chars.substr(i);
            var ascii = rest.search(/[^\x00-\x7F]/);
            if (ascii < 0) ascii = rest.length;
            if (ascii > 0) {
                out.push(rest.substr(0, ascii));
                i += ascii;
                this.offset += ascii;
                continue;
            }
        }
        // Gather one sequence's bytes.
        while (i < chars.length && (bytes.length == 0 || bytes.length < this.lengthOf(bytes[0]))) {
            var c = chars.charAt(i++);
            var b = c.charCodeAt(0) < 0x80 ? c.charCodeAt(0) : byteOf["k" + c];
            bytes.push(b);
            if (bytes.length == 1 && this.lengthOf(b) == 0) this.bad(this.offset);
            if (bytes.length > 1 && (b & 0xC0) != 0x80) this.bad(this.offset);
        }
        var need = this.lengthOf(bytes[0]);
        if (bytes.length < need) {
            if (last) this.bad(this.offset);
            break;
        }
        var cp = need == 2 ? bytes[0] & 0x1F : need == 3 ? bytes[0] & 0x0F : bytes[0] & 0x07;
        for (var k = 1; k < need; k++) cp = cp * 64 + (bytes[k] & 0x3F);
        if ((need == 3 && cp < 0x800) || (need == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            this.bad(this.offset);
        }
        if (cp >= 0x10000) {
            out.push(String.fromCharCode(0xD800 + ((cp - 0x10000) >> 10), 0xDC00 + (cp & 0x3FF)));
        } else {
            out.push(String.fromCharCode(cp));
        }
        this.offset += need;
        bytes = [];
    }
    this.pending = bytes;
    return out.join("");
};

// 1 for ASCII, 2 to 4 for a lead byte, 0 for a byte that leads nothing.
Utf8Decoder.prototype.lengthOf = function (b) {
    return b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
};

// Calls take(text, where) for each text of the input, one at a time.
function eachText(input, whole, take) {
    var unicode = input.encoding == "utf-16le";
    var stream = fso.OpenTextFile(input.path, 1, false, unicode ? -1 : 0);
    var decoder = unicode ? null : new Utf8Decoder(input.path);
    var line = 1;
    var held = "";
    var first = true;
    try {
        while (!stream.AtEndOfStream) {
            var chunk = stream.Read(CHUNK);
            var last = stream.AtEndOfStream;
            if (decoder) chunk = decoder.decode(chunk, last);
            if (first) {
                if (chunk.charCodeAt(0) == 0xFEFF && !unicode) chunk = chunk.substr(1);
                first = false;
            }
            held += chunk;
            if (whole) continue;
            var lines = held.split("\n");
            held = lines.pop();
            for (var i = 0; i < lines.length; i++) {
                var text = lines[i];
                if (text.charAt(text.length - 1) == "\r") text = text.substr(0, text.length - 1);
                take(text, String(line++));
            }
        }
    } finally {
        stream.Close();
    }
    if (whole) {
        take(held, "whole");
    } else if (held.length > 0) {
        take(held, String(line));
    }
}

// ---- Calls.

function outcome(call) {
    try {
        return call();
    } catch (e) {
        return "error\t" + errorNumber(e) + "\t" + esc(String(e.description || ""));
    }
}

function textResult(value) {
    return "ok\t" + esc(value == null ? "" : String(value));
}

function countResult(value) {
    if (typeof value != "number") return "error\t13\t" + esc("the count came back as " + typeof value);
    return "ok\t" + value;
}

// The words of a text worth counting: distinct, those with letters beyond
// ASCII first, at most MAX_WORDS.
function wordsOf(text) {
    var parts = text.split(/[\s!-\/:-@\[-`{-~\u00A0-\u00BF\u00D7\u00F7\u2000-\u206F]+/);
    var seen = {}, wide = [], plain = [];
    for (var i = 0; i < parts.length; i++) {
        var w = parts[i];
        if (w == "" || seen.hasOwnProperty("k" + w)) continue;
        seen["k" + w] = true;
        (/[^\x00-\x7F]/.test(w) ? wide : plain).push(w);
    }
    return wide.concat(plain).slice(0, MAX_WORDS);
}

// ---- The machine: which DLL the ProgID leads to, and this process's bitness.

function regRead(key) {
    try {
        return shell.RegRead(key);
    } catch (e) {
        return null;
    }
}

// Some registries and expansions hand back the terminating NUL too.
function withoutNul(s) {
    s = String(s);
    while (s.length > 0 && s.charCodeAt(s.length - 1) == 0) s = s.substr(0, s.length - 1);
    return s;
}

function serverOf(progid) {
    var clsid = regRead("HKCR\\" + progid + "\\CLSID\\");
    var current = regRead("HKCR\\" + progid + "\\CurVer\\");
    if (clsid == null && current != null) clsid = regRead("HKCR\\" + current + "\\CLSID\\");
    if (clsid == null) return null;
    var path = regRead("HKCR\\CLSID\\" + clsid + "\\InprocServer32\\");
    if (path == null) path = regRead("HKCR\\CLSID\\" + clsid + "\\LocalServer32\\");
    // Some registries hand back the terminating NUL with the value.
    return path == null ? clsid + " (no server registered)"
                        : withoutNul(shell.ExpandEnvironmentStrings(withoutNul(path)));
}

function bitness() {
    var arch = String(shell.Environment("Process")("PROCESSOR_ARCHITECTURE")).toUpperCase();
    return arch == "X86" ? 32 : 64;
}

function utcNow() {
    var d = new Date();
    function two(n) { return (n < 10 ? "0" : "") + n; }
    return d.getUTCFullYear() + "-" + two(d.getUTCMonth() + 1) + "-" + two(d.getUTCDate()) + "T" +
        two(d.getUTCHours()) + ":" + two(d.getUTCMinutes()) + ":" + two(d.getUTCSeconds()) + "Z";
}

// ---- Main.

function absolute(path) {
    return /^([A-Za-z]:)?\\/.test(path) ? path : fso.GetAbsolutePathName(path);
}

function parse() {
    var o = { progid: "Palavox.PalavoxClass", whole: false, find: null, out: null, files: [] };
    var args = WScript.Arguments;
    for (var i = 0; i < args.length; i++) {
        var a = String(args(i));
        var colon = a.indexOf(":");
        var name = (colon < 0 ? a : a.substr(0, colon)).toLowerCase();
        var value = colon < 0 ? null : a.substr(colon + 1);
        if (a.charAt(0) != "/") {
            o.files.push(absolute(a));
        } else if (name == "/progid" && value) {
            o.progid = value;
        } else if (name == "/whole" && value == null) {
            o.whole = true;
        } else if (name == "/find" && value != null) {
            (o.find = o.find || []).push(value);
        } else if (name == "/out" && value) {
            o.out = absolute(value);
        } else if (name == "/?" || name == "/help") {
            throw new Failure(USAGE, 0);
        } else {
            throw new Failure("unknown or incomplete option " + a + "\n" + USAGE, 2);
        }
    }
    if (o.out == null) throw new Failure("/out:RECORDING is required\n" + USAGE, 2);
    if (o.files.length == 0) throw new Failure("no input FILE\n" + USAGE, 2);
    return o;
}

function record(o) {
    learnCodePage();
    var inputs = [];
    for (var i = 0; i < o.files.length; i++) inputs.push(openInput(o.files[i], i + 1));

    var bits = bitness();
    var component;
    try {
        component = new ActiveXObject(o.progid);
    } catch (e) {
        var why = errorNumber(e) == 429
            ? o.progid + " is not registered for " + bits + "-bit programs, where this cscript (" +
              WScript.FullName + ") looked" +
              (bits == 64 ? "; a 32-bit component is seen only by C:\\Windows\\SysWOW64\\cscript.exe"
                          : "; a 64-bit component is seen only by the 64-bit cscript in C:\\Windows\\System32")
            : "cannot create " + o.progid;
        fail(why + " (CreateObject: " + described(e) + ")");
    }
    var dll = serverOf(o.progid);
    var version = "";
    if (dll != null && fso.FileExists(dll)) version = fso.GetFileVersion(dll);

    // Written beside the recording under another name, renamed at the end.
    var folder = fso.GetParentFolderName(o.out);
    var temporary = fso.BuildPath(folder, fso.GetTempName());
    var out;
    try {
        out = fso.CreateTextFile(temporary, true, false);
    } catch (e) {
        fail(o.out + ": cannot be written (" + described(e) + ")");
    }
    var texts = 0, calls = 0;
    try {
        out.WriteLine("palavox-recording\t1");
        out.WriteLine("progid\t" + esc(o.progid));
        out.WriteLine("dll\t" + esc(dll == null ? "(not found in the registry)" : dll));
        out.WriteLine("version\t" + esc(version == "" ? "(none)" : version));
        out.WriteLine("bitness\t" + bits);
        out.WriteLine("host\t" + esc(WScript.FullName));
        out.WriteLine("date\t" + utcNow());
        for (i = 0; i < inputs.length; i++) {
            out.WriteLine("input\t" + inputs[i].index + "\t" + inputs[i].encoding + "\t" +
                          esc(inputs[i].path));
        }
        for (i = 0; i < inputs.length; i++) {
            var input = inputs[i];
            eachText(input, o.whole, function (text, where) {
                var lines = ["text\t" + input.index + "\t" + where + "\t" + esc(text)];
                lines.push("RemoverAcentuacao\t\\@\t" +
                           outcome(function () { return textResult(component.RemoverAcentuacao(text)); }));
                lines.push("TrataHTML\t\\@\t\\-\t" +
                           outcome(function () { return textResult(component.TrataHTML(text)); }));
                lines.push("TrataHTML\t\\@\t_blank\t" +
                           outcome(function () { return textResult(component.TrataHTML(text, "_blank")); }));
                var words = o.find || wordsOf(text).concat([""]);
                for (var k = 0; k < words.length; k++) {
                    var w = words[k];
                    lines.push("FindString\t\\@\t" + esc(w) + "\t\\-\t" +
                               outcome(function () { return countResult(component.FindString(text, w)); }));
                    lines.push("FindString\t\\@\t" + esc(w) + "\tB\t" +
                               outcome(function () { return countResult(component.FindString(text, w, "B")); }));
                }
                out.Write(lines.join("\r\n") + "\r\n");
                texts += 1;
                calls += lines.length - 1;
            });
        }
        out.WriteLine("end\t" + texts + "\t" + calls);
        out.Close();
        out = null;
        if (fso.FileExists(o.out)) fso.DeleteFile(o.out, true);
        fso.MoveFile(temporary, o.out);
    } catch (e) {
        try { if (out != null) out.Close(); } catch (ignored) {}
        try { if (fso.FileExists(temporary)) fso.DeleteFile(temporary, true); } catch (ignored) {}
        if (e instanceof Failure) throw e;
        fail(o.out + ": cannot be written (" + described(e) + ")");
    }
    tell("palavox-record: " + texts + " texts, " + calls + " calls of " + o.progid + " (" +
         bits + "-bit) recorded in " + o.out, true);
}

function main() {
    try {
        record(parse());
        return 0;
    } catch (e) {
        if (!(e instanceof Failure)) e = new Failure("unexpected " + described(e), 1);
        tell(e.status == 0 ? e.message : "palavox-record: " + e.message, e.status != 0);
        return e.status;
    }
}

WScript.Quit(main());
