// Palavox.Text over the shared case file, also from four threads at once, and
// what the binding itself adds: null arguments, errors and their HResult, long
// texts, a text memory cannot hold (in a child process: PalavoxTextTests.exe
// --out-of-memory).
// Usage: PalavoxTextTests.exe tests/cases/palavox_cases.txt; prints "N passed, N failed".
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using Palavox;

static class PalavoxTextTests
{
    sealed class Case
    {
        public int Line;
        public string Method;
        public string[] Args;
        public string Expected;
    }

    static int passed, failed;

    static void Check(bool ok, string what)
    {
        if (ok) { passed++; return; }
        failed++;
        Console.WriteLine("FAIL " + what);
    }

    static string Show(string s)
    {
        if (s == null) return "null";
        var b = new StringBuilder("\"");
        foreach (char c in s) b.Append(c >= 0x20 && c < 0x7F ? c.ToString() : string.Format("\\u{0:X4}", (int)c));
        return b.Append('"').ToString();
    }

    static string Unescape(string field)
    {
        var b = new StringBuilder();
        for (int i = 0; i < field.Length; i++)
        {
            if (field[i] != '\\') { b.Append(field[i]); continue; }
            switch (field[++i])
            {
                case '\\': b.Append('\\'); break;
                case 't': b.Append('\t'); break;
                case 'n': b.Append('\n'); break;
                case 'r': b.Append('\r'); break;
                case '0': b.Append('\0'); break;
                default: throw new InvalidDataException("bad escape: " + field);
            }
        }
        return b.ToString();
    }

    // Code units as they are: Encoding.Unicode would turn lone surrogates into U+FFFD.
    static List<Case> Load(string path)
    {
        byte[] bytes = File.ReadAllBytes(path);
        if (bytes.Length < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
            throw new InvalidDataException(path + " is not UTF-16LE with a byte order mark");
        var units = new char[(bytes.Length - 2) / 2];
        Buffer.BlockCopy(bytes, 2, units, 0, units.Length * 2);
        var arity = new Dictionary<string, int> { { "TrataHTML", 2 }, { "FindString", 3 }, { "RemoverAcentuacao", 1 } };
        var cases = new List<Case>();
        string[] lines = new string(units).Split('\n');
        for (int i = 0; i < lines.Length; i++)
        {
            if (lines[i].Length == 0 || lines[i][0] == '#') continue;
            string[] fields = lines[i].Split('\t');
            if (fields.Length != arity[fields[0]] + 2) throw new InvalidDataException("field count, line " + (i + 2));
            cases.Add(new Case
            {
                Line = i + 2,
                Method = fields[0],
                Args = fields.Skip(1).Take(fields.Length - 2).Select(Unescape).ToArray(),
                Expected = fields[0] == "FindString" ? fields[fields.Length - 1] : Unescape(fields[fields.Length - 1]),
            });
        }
        return cases;
    }

    // What a call gives, in the case file's terms. `omit`: leave the optional argument out.
    static string Outcome(Case c, string[] a, bool omit)
    {
        try
        {
            switch (c.Method)
            {
                case "TrataHTML": return omit ? PalavoxText.TrataHTML(a[0]) : PalavoxText.TrataHTML(a[0], a[1]);
                case "FindString":
                    return (omit ? PalavoxText.FindString(a[0], a[1]) : PalavoxText.FindString(a[0], a[1], a[2])).ToString();
                default: return PalavoxText.RemoverAcentuacao(a[0]);
            }
        }
        catch (PalavoxException e)
        {
            return "error " + e.Number;
        }
    }

    // Every case; where the optional argument is empty, also left out and null.
    static List<string> Mismatches(List<Case> cases)
    {
        var bad = new List<string>();
        foreach (Case c in cases)
        {
            var calls = new List<KeyValuePair<string[], bool>> { new KeyValuePair<string[], bool>(c.Args, false) };
            if (c.Method != "RemoverAcentuacao" && c.Args[c.Args.Length - 1].Length == 0)
            {
                var withNull = (string[])c.Args.Clone();
                withNull[withNull.Length - 1] = null;
                calls.Add(new KeyValuePair<string[], bool>(c.Args, true));
                calls.Add(new KeyValuePair<string[], bool>(withNull, false));
            }
            foreach (var call in calls)
            {
                string got = Outcome(c, call.Key, call.Value);
                if (got != c.Expected)
                    bad.Add(string.Format("line {0} {1}({2}): got {3}, expected {4}", c.Line, c.Method,
                        string.Join(", ", call.Key.Select(Show)), Show(got), Show(c.Expected)));
            }
        }
        return bad;
    }

    // Only against a hang: the waits below end in seconds here.
    static readonly TimeSpan FailSafe = TimeSpan.FromMinutes(5);

    // Each thread's mismatches over a few passes of the cases, the threads let
    // go together; null for one that never ended.
    static List<string>[] FromThreads(List<Case> cases, int count)
    {
        var results = new List<string>[count];
        var start = new Barrier(count);
        Thread[] threads = Enumerable.Range(0, count).Select(i => new Thread(() =>
        {
            start.SignalAndWait();
            results[i] = Enumerable.Range(0, 10).SelectMany(pass => Mismatches(cases)).ToList();
        }) { IsBackground = true }).ToArray();
        foreach (Thread t in threads) t.Start();
        foreach (Thread t in threads) t.Join(FailSafe);
        return results;
    }

    [StructLayout(LayoutKind.Sequential)]
    struct Limit
    {
        public ulong Current, Maximum;
    }

    [DllImport("libc", SetLastError = true)]
    static extern int getrlimit(int resource, out Limit limit);

    [DllImport("libc", SetLastError = true)]
    static extern int setrlimit(int resource, ref Limit limit);

    const int AddressSpace = 9;  // RLIMIT_AS on Linux

    // The child: the text built and every path compiled first, then an address
    // space only 32 MiB larger than the process, less than either result needs.
    // Counting reads the text where it is, so it still works. A line per call.
    static int OutOfMemory()
    {
        string text = new string('\u00E1', 64 << 20);
        Func<Func<object>, string> outcome = call =>
        {
            try
            {
                object result = call();
                string units = result as string;
                return units != null && units.Length > 64 ? "a text of " + units.Length + " units" : result.ToString();
            }
            catch (PalavoxException e) { return string.Format("{0} {1} {2:X8}", e.Number, e.Message, e.HResult); }
        };
        var calls = new Func<object>[] {
            () => PalavoxText.RemoverAcentuacao(text),
            () => PalavoxText.TrataHTML(text),
            () => PalavoxText.FindString(text, "\u00C1"),
            () => PalavoxText.RemoverAcentuacao("A\u00E7\u00E3o"),
        };
        string shortText = text.Substring(0, 300);
        foreach (Func<object> call in new Func<object>[] {
            () => PalavoxText.RemoverAcentuacao(shortText), () => PalavoxText.TrataHTML(shortText),
            () => PalavoxText.FindString(shortText, "\u00C1"), () => PalavoxText.FindString("", "a") })
            outcome(call);

        long size = File.ReadAllLines("/proc/self/status").Where(l => l.StartsWith("VmSize:"))
            .Select(l => long.Parse(l.Split(new[] { ' ', '\t' }, StringSplitOptions.RemoveEmptyEntries)[1]) << 10).First();
        Limit limit;
        if (getrlimit(AddressSpace, out limit) != 0) throw new InvalidOperationException("getrlimit");
        limit.Current = (ulong)size + (32 << 20);
        if (setrlimit(AddressSpace, ref limit) != 0) throw new InvalidOperationException("setrlimit");
        foreach (string line in calls.Select(outcome).ToList()) Console.WriteLine(line);
        return 0;
    }

    // What the child printed, and how it ended if not well.
    static string[] FromChild(string argument)
    {
        var start = new ProcessStartInfo("/proc/self/exe",
            string.Format("\"{0}\" {1}", Assembly.GetEntryAssembly().Location, argument))
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
        };
        using (Process child = Process.Start(start))
        {
            var output = child.StandardOutput.ReadToEndAsync();
            if (!child.WaitForExit((int)FailSafe.TotalMilliseconds))
            {
                child.Kill();
                return new[] { "the child never ended" };
            }
            return output.Result.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries)
                .Concat(child.ExitCode == 0 ? new string[0] : new[] { "exit code " + child.ExitCode }).ToArray();
        }
    }

    static void Throws(Action call, int number, string message, int hresult, string what)
    {
        try
        {
            call();
            Check(false, what + ": no exception");
        }
        catch (PalavoxException e)
        {
            Check(e.Number == number && e.Message == message && e.HResult == hresult,
                string.Format("{0}: {1} {2} {3:X8}", what, e.Number, e.Message, e.HResult));
        }
    }

    static int Main(string[] args)
    {
        if (args[0] == "--out-of-memory") return OutOfMemory();
        List<Case> cases = Load(args[0]);
        foreach (string method in new[] { "TrataHTML", "FindString", "RemoverAcentuacao" })
            Check(cases.Count(c => c.Method == method) >= 50, "rows for " + method);

        List<string> bad = Mismatches(cases);
        foreach (string line in bad.Take(10)) Console.WriteLine(line);
        Check(bad.Count == 0, bad.Count + " mismatches on the shared case file");

        List<string>[] fromThreads = FromThreads(cases, 4);
        for (int i = 0; i < fromThreads.Length; i++)
            Check(fromThreads[i] != null && fromThreads[i].Count == 0, string.Format("thread {0} of {1}: {2}",
                i, fromThreads.Length, fromThreads[i] == null ? "never ended" : fromThreads[i].Count + " mismatches"));

        string[] pressed = FromChild("--out-of-memory");
        string[] wanted = { "7 Out of memory 8007000E", "7 Out of memory 8007000E", (64 << 20).ToString(), "Acao" };
        Check(pressed.SequenceEqual(wanted), "out of memory, then a call: " + string.Join(" | ", pressed));

        const int TypeMismatch = unchecked((int)0x800A000D);
        Throws(() => PalavoxText.FindString("", "a"), 13, "Type mismatch", TypeMismatch, "FindString(\"\")");
        Throws(() => PalavoxText.FindString(null, null, null), 13, "Type mismatch", TypeMismatch, "FindString(null)");
        Check(PalavoxText.FindString("aXa", "x") == 1, "the call after a failure");
        Check(PalavoxText.TrataHTML(null) == "" && PalavoxText.RemoverAcentuacao(null) == "", "null is the empty text");

        // Folding is unit by unit: a case repeated past a million units gives its result repeated.
        foreach (Case c in cases.Where(c => c.Method == "RemoverAcentuacao" && c.Args[0].Length > 8).Take(3))
        {
            int times = 1300000 / c.Args[0].Length + 1;
            string text = string.Concat(Enumerable.Repeat(c.Args[0], times));
            Check(PalavoxText.RemoverAcentuacao(text) == string.Concat(Enumerable.Repeat(c.Expected, times)),
                "long text from line " + c.Line);
        }

        Console.WriteLine("{0} passed, {1} failed", passed, failed);
        return failed == 0 ? 0 : 1;
    }
}
