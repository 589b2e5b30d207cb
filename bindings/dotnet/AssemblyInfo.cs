using System.Reflection;

[assembly: AssemblyTitle("Palavox.Text")]
[assembly: AssemblyDescription("TrataHTML, FindString and RemoverAcentuacao with the results of Palavox.dll")]
[assembly: AssemblyVersion("1.5.0.0")]
[assembly: AssemblyFileVersion("1.5.0.0")]
