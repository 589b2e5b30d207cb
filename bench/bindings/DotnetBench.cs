// make bench-bindings (.NET): Palavox.Text beside the plain .NET way of doing
// the same, in one run, on 100,000 short names and on 1 MiB. Each figure is
// the least of several rounds; ratios are peer time / Palavox time. The peers
// are checked to give Palavox's answers first (the recipe folds no symbols, so
// on the names only). The goals are judged on the mixed names (accented,
// plain and ASCII-only ones, as a register holds them); the rows for the
// ASCII-only and the accented names show how the mix splits.
//   DotnetBench.exe [rounds]
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Text;
using System.Text.RegularExpressions;
using Palavox;

static class DotnetBench
{
    const int Calls = 100000;
    static int rounds = 11;

    static readonly string[] Accented = {
        "João", "José", "Antônio", "Conceição", "Araújo", "Gonçalves", "Luís", "Mário", "Sérgio",
        "Lúcia", "Inês", "Estêvão", "Simões", "Magalhães", "Brandão", "Falcão", "Débora", "Cecília",
        "Vitória", "Patrícia", "Márcia", "Flávio", "Fábio", "Júlia", "Letícia", "Mônica", "Ângela",
        "Glória", "Assunção", "Guimarães", "Lourenço", "Jéssica" };
    static readonly string[] Plain = {
        "Maria", "Silva", "Santos", "Pedro", "Carlos", "Souza", "Oliveira", "Ferreira", "Costa",
        "Rodrigues", "Almeida", "Pereira", "Lima", "Gomes", "Ribeiro", "Martins", "Carvalho", "Rocha",
        "Barbosa", "Cardoso", "Castro", "Pinto", "Moreira", "Mendes", "Nunes", "Ana", "Paulo",
        "Rafael", "Bruno", "Teixeira", "Vieira", "Machado", "da", "de", "dos" };

    static string[] Names(Random pick, string[] words, bool needAccent)
    {
        var names = new List<string>(Calls);
        while (names.Count < Calls)
        {
            int n = pick.Next(2, 5);
            string name = string.Join(" ", Enumerable.Range(0, n).Select(_ => words[pick.Next(words.Length)]));
            if (!needAccent || name.Any(c => c > 0x7F)) names.Add(name);
        }
        return names.ToArray();
    }

    static string Prose(Random pick)
    {
        string[] words = Accented.Concat(Plain).Concat(new[] {
            "ação", "(SP)", "R$", "e-mail:", "http://exemplo.com.br/a?b=1",
            "HTTPS://www.palavox.org/página", "|", "25%", "&" }).ToArray();
        var b = new StringBuilder();
        while (b.Length < 1 << 20) b.Append(words[pick.Next(words.Length)]).Append(' ');
        return b.ToString(0, 1 << 20);
    }

    // The usual recipe: decompose, drop the combining marks.
    static string Recipe(string s)
    {
        string d = s.Normalize(NormalizationForm.FormD);
        var b = new StringBuilder(d.Length);
        foreach (char c in d)
            if (CharUnicodeInfo.GetUnicodeCategory(c) != UnicodeCategory.NonSpacingMark) b.Append(c);
        return b.ToString();
    }

    static int CountIgnoreCase(string s, string search)
    {
        int count = 0;
        for (int at = s.IndexOf(search, StringComparison.OrdinalIgnoreCase); at >= 0;
             at = s.IndexOf(search, at + search.Length, StringComparison.OrdinalIgnoreCase))
            count++;
        return count;
    }

    static readonly Regex Link = new Regex("[Hh][Tt][Tt][Pp][^\r |]*", RegexOptions.Compiled);

    static string Anchors(string s)
    {
        return Link.Replace(s, "<a href=\"$0\" target=\"_self\">$0</a>");
    }

    // The least time of each over rounds that alternate between them, so that a
    // change of load on a shared machine falls on both.
    static double[] SideBySide(Action ours, Action theirs)
    {
        var best = new[] { double.MaxValue, double.MaxValue };
        var runs = new[] { ours, theirs };
        for (int r = 0; r < rounds; r++)
        {
            for (int i = 0; i < 2; i++)
            {
                // From a collected heap: what the inputs and the other side left
                // in the nursery is not charged to this one.
                GC.Collect();
                GC.WaitForPendingFinalizers();
                var watch = Stopwatch.StartNew();
                runs[i]();
                best[i] = Math.Min(best[i], watch.Elapsed.TotalMilliseconds * 1e6);
            }
        }
        return best;
    }

    static double[] PerCall<T, U>(Func<string, T> f, Func<string, U> g, string[] texts)
    {
        double[] t = SideBySide(() => { foreach (string s in texts) f(s); },
                                () => { foreach (string s in texts) g(s); });
        return new[] { t[0] / texts.Length, t[1] / texts.Length };
    }

    static double[] Once<T, U>(Func<string, T> f, Func<string, U> g, string text)
    {
        return SideBySide(() => f(text), () => g(text));
    }

    static int missed;

    static void Row(string what, string peer, double[] times, double ratioGoal)
    {
        double ours = times[0], theirs = times[1];
        bool perCall = what.Contains("names");
        double scale = perCall ? 1 : 1000;
        string unit = perCall ? "ns" : "us";
        string verdict = "";
        if (ratioGoal > 0)
        {
            bool met = theirs / ours >= ratioGoal;
            if (!met) missed++;
            verdict = string.Format(">={0:0.0}x {1}", ratioGoal, met ? "met" : "NOT MET");
        }
        Console.WriteLine("{0,-36} {1,7:0} {2} {3,20} {4,7:0} {2} {5,6:0.00}x  {6}",
            what, ours / scale, unit, peer, theirs / scale, theirs / ours, verdict);
    }

    static int Main(string[] args)
    {
        if (args.Length > 0) rounds = int.Parse(args[0]);
        var pick = new Random(15);
        var sets = new[] {
            Tuple.Create("mixed", Names(pick, Accented.Concat(Plain).ToArray(), false)),
            Tuple.Create("ASCII-only", Names(pick, Plain, false)),
            Tuple.Create("accented", Names(pick, Accented.Concat(Plain).ToArray(), true)) };
        string prose = Prose(pick);
        const string search = "silva";

        string load = File.Exists("/proc/loadavg") ? File.ReadAllText("/proc/loadavg").Substring(0, 14) : "?";
        Console.WriteLine("Mono {0}, {1} rounds, load {2}", Environment.Version, rounds, load);
        Console.WriteLine("{0,-36} {1,10} {2,20} {3,10} {4,7}  goal", "measure", "Palavox", "peer", "", "ratio");
        foreach (var set in sets)
        {
            foreach (string s in set.Item2.Take(2000))
            {
                if (PalavoxText.RemoverAcentuacao(s) != Recipe(s)) throw new Exception("recipe differs: " + s);
                if (PalavoxText.FindString(s, search) != CountIgnoreCase(s, search)) throw new Exception("count differs: " + s);
            }
            Row("RemoverAcentuacao, " + set.Item1 + " names", "Normalize(FormD)",
                PerCall(PalavoxText.RemoverAcentuacao, Recipe, set.Item2), set.Item1 == "mixed" ? 6.0 : 0);
            Row("FindString, " + set.Item1 + " names", "IndexOf loop",
                PerCall(s => PalavoxText.FindString(s, search), s => CountIgnoreCase(s, search), set.Item2), 0);
            Row("TrataHTML, " + set.Item1 + " names", "Regex.Replace",
                PerCall(s => PalavoxText.TrataHTML(s), Anchors, set.Item2), 0);
        }
        if (PalavoxText.TrataHTML(prose) != Anchors(prose)) throw new Exception("Regex.Replace differs on 1 MiB");
        if (PalavoxText.FindString(prose, search) != CountIgnoreCase(prose, search)) throw new Exception("count differs on 1 MiB");
        Row("RemoverAcentuacao, 1 MiB", "Normalize(FormD)", Once(PalavoxText.RemoverAcentuacao, Recipe, prose), 3.0);
        Row("FindString, 1 MiB", "IndexOf loop",
            Once(s => PalavoxText.FindString(s, search), s => CountIgnoreCase(s, search), prose), 3.0);
        Row("TrataHTML, 1 MiB", "Regex.Replace", Once(s => PalavoxText.TrataHTML(s), Anchors, prose), 3.0);
        Console.WriteLine(".NET goals: {0} not met", missed);
        return missed == 0 ? 0 : 1;
    }
}
